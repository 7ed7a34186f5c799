#pragma once
// Turns program text into tokens one at a time. Names are folded to lower case here, once,
// so every later lookup is a plain comparison; the original spelling stays for messages.
// Adjacent quoted pieces and #nn codes form one text token, as Pascal writes 'a'#13#10'b'.
// The lexer never reads past the text and reports malformed input as an error token.

#include <cstdint>
#include <string>
#include <string_view>

#include "model/TextUtil.h"

namespace velkor {

// ASCII lower case for names and texts (names, type names, LowerCase, CompareText, format
// letters): the model's rule, so script names and user function names fold alike.
inline char ToLowerAscii(char c) { return AsciiLower(c); }
inline std::string ToLowerAscii(std::string_view s) { return AsciiLower(s); }

#define VELKOR_KEYWORDS(X)                                                                        \
  X(And, "and")                                                                                   \
  X(Array, "array")                                                                               \
  X(Begin, "begin")                                                                               \
  X(Case, "case")                                                                                 \
  X(Const, "const")                                                                               \
  X(Div, "div")                                                                                   \
  X(Do, "do") X(Downto, "downto") X(Else, "else") X(End, "end") X(Except, "except")               \
      X(Finally, "finally") X(For, "for") X(Forward, "forward") X(Function, "function")           \
          X(If, "if") X(In, "in") X(Is, "is") X(Mod, "mod") X(Not, "not") X(Of, "of") X(Or, "or") \
              X(Procedure, "procedure") X(Program, "program") X(Record, "record")                 \
                  X(Repeat, "repeat") X(Set, "set") X(Shl, "shl") X(Shr, "shr") X(Then, "then")   \
                      X(To, "to") X(Try, "try") X(Type, "type") X(Until, "until") X(Uses, "uses") \
                          X(Var, "var") X(While, "while") X(With, "with") X(Xor, "xor")           \
                              X(On, "on") X(Raise, "raise")

enum class Tok : uint8_t {
  Eof,
  Error,
  Name,
  Int,
  Real,
  Text,
  Plus,
  Minus,
  Star,
  Slash,
  Equal,
  NotEqual,
  Less,
  LessEqual,
  Greater,
  GreaterEqual,
  Assign,
  Colon,
  Semicolon,
  Comma,
  Dot,
  DotDot,
  LParen,
  RParen,
  LBracket,
  RBracket,
  Caret,
  At,
#define VELKOR_KEYWORD_ENUM(id, text) Kw##id,
  VELKOR_KEYWORDS(VELKOR_KEYWORD_ENUM)
#undef VELKOR_KEYWORD_ENUM
};

// How a token kind reads in a message: "';'", "'begin'", "a name".
const char* TokName(Tok kind);

struct Token {
  Tok kind = Tok::Eof;
  int line = 1;
  int column = 1;
  std::string text;  // the spelling; for Text the decoded value; for Error the message
  std::string name;  // lower-case spelling of a name or keyword
  int64_t integer = 0;
  double real = 0.0;
};

class Lexer {
 public:
  explicit Lexer(std::string_view source) : m_src(source) {}
  Token Next();

 private:
  bool AtEnd() const { return m_pos >= m_src.size(); }
  char Peek(size_t ahead = 0) const {
    return m_pos + ahead < m_src.size() ? m_src[m_pos + ahead] : '\0';
  }
  char Advance();
  // False (with the error in `error`) when a comment runs to the end of the text.
  bool SkipBlanksAndComments(Token& error);
  void Number(Token& t);
  void Text(Token& t);
  void Fail(Token& t, std::string message);

  std::string_view m_src;
  size_t m_pos = 0;
  int m_line = 1;
  int m_column = 1;
};

// = <> < <= > >=: the operators of one comparison instruction each.
inline bool IsComparison(Tok t) {
  return t == Tok::Equal || t == Tok::NotEqual || t == Tok::Less || t == Tok::LessEqual ||
         t == Tok::Greater || t == Tok::GreaterEqual;
}

}  // namespace velkor

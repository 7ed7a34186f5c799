#include "script/Lexer.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace velkor {
namespace {

struct Keyword {
  std::string_view text;
  Tok kind;
};

constexpr Keyword kKeywords[] = {
#define VELKOR_KEYWORD_ENTRY(id, text) {text, Tok::Kw##id},
    VELKOR_KEYWORDS(VELKOR_KEYWORD_ENTRY)
#undef VELKOR_KEYWORD_ENTRY
};

bool IsNameStart(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsNameChar(char c) { return IsNameStart(c) || IsDigit(c); }
int HexValue(char c) {
  if (IsDigit(c)) return c - '0';
  const char lower = char(c | 0x20);
  return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

}  // namespace

const char* TokName(Tok kind) {
  switch (kind) {
    case Tok::Eof:
      return "end of text";
    case Tok::Error:
      return "invalid text";
    case Tok::Name:
      return "a name";
    case Tok::Int:
    case Tok::Real:
      return "a number";
    case Tok::Text:
      return "a string";
    case Tok::Plus:
      return "'+'";
    case Tok::Minus:
      return "'-'";
    case Tok::Star:
      return "'*'";
    case Tok::Slash:
      return "'/'";
    case Tok::Equal:
      return "'='";
    case Tok::NotEqual:
      return "'<>'";
    case Tok::Less:
      return "'<'";
    case Tok::LessEqual:
      return "'<='";
    case Tok::Greater:
      return "'>'";
    case Tok::GreaterEqual:
      return "'>='";
    case Tok::Assign:
      return "':='";
    case Tok::Colon:
      return "':'";
    case Tok::Semicolon:
      return "';'";
    case Tok::Comma:
      return "','";
    case Tok::Dot:
      return "'.'";
    case Tok::DotDot:
      return "'..'";
    case Tok::LParen:
      return "'('";
    case Tok::RParen:
      return "')'";
    case Tok::LBracket:
      return "'['";
    case Tok::RBracket:
      return "']'";
    case Tok::Caret:
      return "'^'";
    case Tok::At:
      return "'@'";
#define VELKOR_KEYWORD_NAME(id, text) \
  case Tok::Kw##id:                   \
    return "'" text "'";
      VELKOR_KEYWORDS(VELKOR_KEYWORD_NAME)
#undef VELKOR_KEYWORD_NAME
  }
  return "?";
}

char Lexer::Advance() {
  const char c = m_src[m_pos++];
  if (c == '\n') {
    ++m_line;
    m_column = 1;
  } else if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
    ++m_column;  // columns count characters, not the continuation bytes of UTF-8
  }
  return c;
}

void Lexer::Fail(Token& t, std::string message) {
  t.kind = Tok::Error;
  t.text = std::move(message);
}

bool Lexer::SkipBlanksAndComments(Token& error) {
  for (;;) {
    while (!AtEnd() && static_cast<unsigned char>(Peek()) <= ' ') Advance();
    if (AtEnd()) return true;
    const char c = Peek();
    if (c == '/' && Peek(1) == '/') {
      while (!AtEnd() && Peek() != '\n') Advance();
    } else if (c == '{' || (c == '(' && Peek(1) == '*')) {
      error.line = m_line;
      error.column = m_column;
      const bool brace = c == '{';
      Advance();
      if (!brace) Advance();
      for (;;) {
        if (AtEnd()) {
          Fail(error, "Unterminated comment");
          return false;
        }
        if (brace && Peek() == '}') {
          Advance();
          break;
        }
        if (!brace && Peek() == '*' && Peek(1) == ')') {
          Advance();
          Advance();
          break;
        }
        Advance();
      }
    } else {
      return true;
    }
  }
}

void Lexer::Number(Token& t) {
  const size_t start = m_pos;
  if (Peek() == '$') {
    Advance();
    uint64_t value = 0;
    int digits = 0;
    while (HexValue(Peek()) >= 0) {
      if (value >> 60) {
        Fail(t, "Hexadecimal number too large");
        while (HexValue(Peek()) >= 0) Advance();
        return;
      }
      value = value << 4 | uint64_t(HexValue(Advance()));
      ++digits;
    }
    if (digits == 0) return Fail(t, "Hexadecimal digits expected after '$'");
    t.kind = Tok::Int;
    t.integer = int64_t(value);
    t.text = std::string(m_src.substr(start, m_pos - start));
    return;
  }
  while (IsDigit(Peek())) Advance();
  bool real = false;
  // "1..5" is a range, not the real 1. followed by .5
  if (Peek() == '.' && IsDigit(Peek(1))) {
    real = true;
    Advance();
    while (IsDigit(Peek())) Advance();
  }
  if ((Peek() == 'e' || Peek() == 'E') &&
      (IsDigit(Peek(1)) || ((Peek(1) == '+' || Peek(1) == '-') && IsDigit(Peek(2))))) {
    real = true;
    Advance();
    if (Peek() == '+' || Peek() == '-') Advance();
    while (IsDigit(Peek())) Advance();
  }
  t.text = std::string(m_src.substr(start, m_pos - start));
  const char* first = t.text.data();
  const char* last = first + t.text.size();
  if (!real) {
    if (std::from_chars(first, last, t.integer).ec == std::errc()) {
      t.kind = Tok::Int;
      return;
    }
  }
  // An integer beyond 64 bits reads as a real, as Delphi does.
  double value = 0.0;
  const auto result = std::from_chars(first, last, value);
  if (result.ec == std::errc::result_out_of_range || !std::isfinite(value))
    return Fail(t, "Number out of range: " + t.text);
  t.kind = Tok::Real;
  t.real = value;
}

void Lexer::Text(Token& t) {
  std::string value;
  for (;;) {
    if (Peek() == '\'') {
      Advance();
      for (;;) {
        if (AtEnd() || Peek() == '\n') return Fail(t, "Unterminated string");
        const char c = Advance();
        if (c == '\'') {
          if (Peek() != '\'') break;
          Advance();
        }
        value += c;
      }
    } else if (Peek() == '#') {
      Advance();
      int64_t code = 0;
      bool any = false;
      if (Peek() == '$') {
        Advance();
        while (HexValue(Peek()) >= 0 && code < 256)
          code = code * 16 + HexValue(Advance()), any = true;
      } else {
        while (IsDigit(Peek()) && code < 256) code = code * 10 + (Advance() - '0'), any = true;
      }
      if (!any || code > 255) return Fail(t, "Character code 0..255 expected after '#'");
      value += char(code);
    } else {
      break;
    }
  }
  t.kind = Tok::Text;
  t.text = std::move(value);
}

Token Lexer::Next() {
  Token t;
  if (!SkipBlanksAndComments(t)) return t;
  t.line = m_line;
  t.column = m_column;
  if (AtEnd()) return t;
  const char c = Peek();
  if (IsNameStart(c)) {
    const size_t start = m_pos;
    while (IsNameChar(Peek())) Advance();
    t.text = std::string(m_src.substr(start, m_pos - start));
    t.name = ToLowerAscii(t.text);
    t.kind = Tok::Name;
    for (const Keyword& k : kKeywords)
      if (k.text == t.name) t.kind = k.kind;
    return t;
  }
  if (IsDigit(c) || (c == '$' && HexValue(Peek(1)) >= 0)) {
    Number(t);
    return t;
  }
  if (c == '\'' || c == '#') {
    Text(t);
    return t;
  }
  Advance();
  const auto two = [&](char next, Tok both, Tok one) {
    if (Peek() == next) {
      Advance();
      t.kind = both;
    } else {
      t.kind = one;
    }
  };
  switch (c) {
    case '+':
      t.kind = Tok::Plus;
      break;
    case '-':
      t.kind = Tok::Minus;
      break;
    case '*':
      t.kind = Tok::Star;
      break;
    case '/':
      t.kind = Tok::Slash;
      break;
    case '=':
      t.kind = Tok::Equal;
      break;
    case '<':
      if (Peek() == '>') {
        Advance();
        t.kind = Tok::NotEqual;
      } else {
        two('=', Tok::LessEqual, Tok::Less);
      }
      break;
    case '>':
      two('=', Tok::GreaterEqual, Tok::Greater);
      break;
    case ':':
      two('=', Tok::Assign, Tok::Colon);
      break;
    case ';':
      t.kind = Tok::Semicolon;
      break;
    case ',':
      t.kind = Tok::Comma;
      break;
    case '.':
      two('.', Tok::DotDot, Tok::Dot);
      break;
    case '(':
      t.kind = Tok::LParen;
      break;
    case ')':
      t.kind = Tok::RParen;
      break;
    case '[':
      t.kind = Tok::LBracket;
      break;
    case ']':
      t.kind = Tok::RBracket;
      break;
    case '^':
      t.kind = Tok::Caret;
      break;
    case '@':
      t.kind = Tok::At;
      break;
    default: {
      const unsigned char u = static_cast<unsigned char>(c);
      char buf[64];
      if (u >= 0x80) {
        while (!AtEnd() && (static_cast<unsigned char>(Peek()) & 0xC0) == 0x80) Advance();
        Fail(t, "Unexpected character outside a string or comment");
      } else if (c == '"') {
        Fail(t, "Unexpected character '\"': strings are written in single quotes");
      } else {
        std::snprintf(buf, sizeof buf, "Unexpected character '%c'", c);
        Fail(t, buf);
      }
      break;
    }
  }
  return t;
}

}  // namespace velkor

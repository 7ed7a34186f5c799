#pragma once
// Recursive descent over the token stream with one token of lookahead, building the parse
// tree. The first error ends the parse: users fix one message at a time, and a parser that
// guesses its way on produces follow-on messages that point at the wrong place. Nesting is
// capped so that hostile text cannot exhaust the native stack.

#include <string>
#include <string_view>

#include "script/Ast.h"
#include "script/Lexer.h"

namespace velkor {

struct CompileError {
  std::string message;
  Pos pos;
};

constexpr int kMaxNesting = 500;

class Parser {
 public:
  explicit Parser(std::string_view source);
  // Throws CompileError.
  ProgramAst ParseProgram();

 private:
  void Advance();
  bool Accept(Tok kind);
  void Expect(Tok kind, const char* context = nullptr);
  [[noreturn]] void Fail(const std::string& message) const;
  [[noreturn]] void FailExpected(const char* what) const;
  NamePos ExpectName(const char* what);
  std::string Found() const;

  void ParseBlock(Block& block, bool isMain);
  void ParseConsts(Block& block);
  void ParseTypes(Block& block);
  void ParseVars(Block& block);
  std::unique_ptr<Routine> ParseRoutine();
  TypeSpecPtr ParseType();
  StmtPtr ParseCompound();
  void ParseStatements(StmtList& list, Tok end1, Tok end2 = Tok::Eof, Tok end3 = Tok::Eof);
  StmtPtr ParseStatement();
  StmtPtr ParseIf();
  StmtPtr ParseCase();
  StmtPtr ParseRepeat();
  StmtPtr ParseWhile();
  StmtPtr ParseFor();
  StmtPtr ParseTry();
  StmtPtr ParseWith();
  ExprPtr ParseExpr();
  ExprPtr ParseSimple();
  ExprPtr ParseTerm();
  ExprPtr ParseBinaryLevel(bool (*isOperator)(Tok), ExprPtr (Parser::*next)());
  ExprPtr ParseFactor();
  ExprPtr ParseDesignator(ExprPtr base);
  void ParseArgs(std::vector<ExprPtr>& args, Tok close);
  ExprPtr ParseInitializer();

  struct Depth {
    explicit Depth(Parser& p);
    ~Depth() { --m_p.m_depth; }
    Parser& m_p;
  };
  // Operator and suffix chains build deep trees in a loop; each link counts as a level,
  // so the tree the compiler later walks recursively is as bounded as the recursion here.
  struct Chain {
    explicit Chain(Parser& p) : m_p(p) {}
    ~Chain() { m_p.m_depth -= m_links; }
    void Link();
    Parser& m_p;
    int m_links = 0;
  };

  Lexer m_lexer;
  Token m_tok;
  Token m_prev;
  int m_depth = 0;
};

}  // namespace velkor

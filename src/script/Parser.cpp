#include "script/Parser.h"

namespace velkor {
namespace {

Pos PosOf(const Token& t) { return {t.line, t.column}; }

ExprPtr MakeExpr(ExprKind kind, Pos pos) {
  auto e = std::make_unique<Expr>();
  e->kind = kind;
  e->pos = pos;
  return e;
}

StmtPtr MakeStmt(StmtKind kind, Pos pos) {
  auto s = std::make_unique<Stmt>();
  s->kind = kind;
  s->pos = pos;
  return s;
}

}  // namespace

Parser::Depth::Depth(Parser& p) : m_p(p) {
  if (++m_p.m_depth > kMaxNesting) m_p.Fail("Program nested too deeply");
}

void Parser::Chain::Link() {
  ++m_links;
  if (++m_p.m_depth > kMaxNesting) m_p.Fail("Expression too long or nested too deeply");
}

Parser::Parser(std::string_view source) : m_lexer(source) { Advance(); }

void Parser::Advance() {
  m_prev = std::move(m_tok);
  m_tok = m_lexer.Next();
  if (m_tok.kind == Tok::Error) throw CompileError{m_tok.text, PosOf(m_tok)};
}

bool Parser::Accept(Tok kind) {
  if (m_tok.kind != kind) return false;
  Advance();
  return true;
}

std::string Parser::Found() const {
  switch (m_tok.kind) {
    case Tok::Eof:
      return "end of text";
    case Tok::Name:
      return "'" + m_tok.text + "'";
    case Tok::Int:
    case Tok::Real:
      return "number " + m_tok.text;
    case Tok::Text:
      return "string '" + m_tok.text.substr(0, 40) + "'";
    default:
      return TokName(m_tok.kind);
  }
}

void Parser::Fail(const std::string& message) const { throw CompileError{message, PosOf(m_tok)}; }

void Parser::FailExpected(const char* what) const {
  Fail(std::string(what) + " expected but " + Found() + " found");
}

void Parser::Expect(Tok kind, const char* context) {
  if (m_tok.kind == kind) return Advance();
  // A missing ';' is reported where the previous token ended, where the user must type it.
  if (kind == Tok::Semicolon && m_prev.line < m_tok.line && m_prev.kind != Tok::Eof) {
    const int column = m_prev.column + int(m_prev.kind == Tok::Text ? 1 : m_prev.text.size());
    throw CompileError{"';' expected but " + Found() + " found", {m_prev.line, column}};
  }
  std::string what = TokName(kind);
  if (context) what += std::string(" ") + context;
  FailExpected(what.c_str());
}

NamePos Parser::ExpectName(const char* what) {
  if (m_tok.kind != Tok::Name) FailExpected(what);
  NamePos n{m_tok.name, m_tok.text, PosOf(m_tok)};
  Advance();
  return n;
}

ProgramAst Parser::ParseProgram() {
  ProgramAst program;
  if (Accept(Tok::KwProgram)) {
    ExpectName("program name");
    Expect(Tok::Semicolon);
  }
  if (Accept(Tok::KwUses)) {
    do ExpectName("unit name");
    while (Accept(Tok::Comma));
    Expect(Tok::Semicolon);
  }
  ParseBlock(program.block, true);
  if (m_tok.kind != Tok::Dot) FailExpected("'.' after the main block");
  Advance();
  if (m_tok.kind != Tok::Eof) Fail("Text after the end of the program: " + Found());
  return program;
}

void Parser::ParseBlock(Block& block, bool isMain) {
  for (;;) {
    switch (m_tok.kind) {
      case Tok::KwConst:
        ParseConsts(block);
        continue;
      case Tok::KwType:
        ParseTypes(block);
        continue;
      case Tok::KwVar:
        ParseVars(block);
        continue;
      case Tok::KwProcedure:
      case Tok::KwFunction:
        block.order.emplace_back(Block::DeclKind::Routine, block.routines.size());
        block.routines.push_back(ParseRoutine());
        continue;
      default:
        break;
    }
    break;
  }
  if (m_tok.kind != Tok::KwBegin) FailExpected(isMain ? "'begin' of the main block" : "'begin'");
  block.body = ParseCompound();
  block.endPos = PosOf(m_prev);
}

void Parser::ParseConsts(Block& block) {
  Advance();
  do {
    ConstDecl c;
    c.name = ExpectName("constant name");
    if (Accept(Tok::Colon)) c.type = ParseType();
    if (m_tok.kind != Tok::Equal) FailExpected("'='");
    Advance();
    c.value = c.type ? ParseInitializer() : ParseExpr();
    Expect(Tok::Semicolon);
    block.order.emplace_back(Block::DeclKind::Const, block.consts.size());
    block.consts.push_back(std::move(c));
  } while (m_tok.kind == Tok::Name);
}

void Parser::ParseTypes(Block& block) {
  Advance();
  do {
    TypeDecl t;
    t.name = ExpectName("type name");
    if (m_tok.kind != Tok::Equal) FailExpected("'='");
    Advance();
    t.type = ParseType();
    Expect(Tok::Semicolon);
    block.order.emplace_back(Block::DeclKind::Type, block.types.size());
    block.types.push_back(std::move(t));
  } while (m_tok.kind == Tok::Name);
}

void Parser::ParseVars(Block& block) {
  Advance();
  do {
    VarDecl v;
    do v.names.push_back(ExpectName("variable name"));
    while (Accept(Tok::Comma));
    Expect(Tok::Colon);
    v.type = ParseType();
    if (Accept(Tok::Equal)) v.init = ParseInitializer();
    Expect(Tok::Semicolon);
    block.order.emplace_back(Block::DeclKind::Var, block.vars.size());
    block.vars.push_back(std::move(v));
  } while (m_tok.kind == Tok::Name);
}

std::unique_ptr<Routine> Parser::ParseRoutine() {
  Depth depth(*this);
  auto r = std::make_unique<Routine>();
  r->isFunction = m_tok.kind == Tok::KwFunction;
  Advance();
  r->name = ExpectName(r->isFunction ? "function name" : "procedure name");
  if (Accept(Tok::LParen)) {
    // Generated headers end every parameter with "; ", the last one too.
    while (m_tok.kind != Tok::RParen) {
      ParamSpec p;
      if (Accept(Tok::KwVar))
        p.mode = ParamMode::Var;
      else if (Accept(Tok::KwConst))
        p.mode = ParamMode::Const;
      else if (m_tok.kind == Tok::Name && m_tok.name == "out")
        Advance(), p.mode = ParamMode::Out;
      do p.names.push_back(ExpectName("parameter name"));
      while (Accept(Tok::Comma));
      if (Accept(Tok::Colon)) p.type = ParseType();
      if (Accept(Tok::Equal)) p.defaultValue = ParseExpr();
      r->params.push_back(std::move(p));
      if (!Accept(Tok::Semicolon)) break;
    }
    Expect(Tok::RParen);
  }
  if (r->isFunction) {
    if (m_tok.kind != Tok::Colon) FailExpected("':' and the result type");
    Advance();
    r->result = ParseType();
  }
  Expect(Tok::Semicolon);
  if (Accept(Tok::KwForward)) {
    Expect(Tok::Semicolon);
    r->forward = true;
    return r;
  }
  ParseBlock(r->block, false);
  Expect(Tok::Semicolon);
  return r;
}

TypeSpecPtr Parser::ParseType() {
  Depth depth(*this);
  auto t = std::make_unique<TypeSpec>();
  t->pos = PosOf(m_tok);
  if (Accept(Tok::KwArray)) {
    t->kind = TypeSpecKind::Array;
    Expect(Tok::LBracket);
    t->low = ParseExpr();
    Expect(Tok::DotDot);
    t->high = ParseExpr();
    while (Accept(Tok::Comma)) {
      t->dimsLow.push_back(ParseExpr());
      Expect(Tok::DotDot);
      t->dimsHigh.push_back(ParseExpr());
    }
    Expect(Tok::RBracket);
    Expect(Tok::KwOf);
    t->element = ParseType();
    return t;
  }
  if (Accept(Tok::KwRecord)) {
    t->kind = TypeSpecKind::Record;
    while (m_tok.kind == Tok::Name) {
      FieldSpec f;
      do f.names.push_back(ExpectName("field name"));
      while (Accept(Tok::Comma));
      Expect(Tok::Colon);
      f.type = ParseType();
      t->fields.push_back(std::move(f));
      if (!Accept(Tok::Semicolon)) break;
    }
    Expect(Tok::KwEnd, "of the record");
    return t;
  }
  if (Accept(Tok::KwSet)) {
    t->kind = TypeSpecKind::Set;
    Expect(Tok::KwOf);
    t->element = ParseType();
    return t;
  }
  if (m_tok.kind != Tok::Name) FailExpected("type name");
  t->name = ExpectName("type name");
  if (t->name.name == "string" && Accept(Tok::LBracket)) {  // string[N]: the length is ignored
    ParseExpr();
    Expect(Tok::RBracket);
  }
  return t;
}

StmtPtr Parser::ParseCompound() {
  auto s = MakeStmt(StmtKind::Compound, PosOf(m_tok));
  Expect(Tok::KwBegin);
  ParseStatements(s->body, Tok::KwEnd);
  Expect(Tok::KwEnd);
  return s;
}

void Parser::ParseStatements(StmtList& list, Tok end1, Tok end2, Tok end3) {
  for (;;) {
    list.push_back(ParseStatement());
    if (Accept(Tok::Semicolon)) continue;
    if (m_tok.kind == end1 || m_tok.kind == end2 || m_tok.kind == end3) return;
    if (m_tok.kind == Tok::Eof) Expect(end1);
    Expect(Tok::Semicolon);
  }
}

StmtPtr Parser::ParseStatement() {
  Depth depth(*this);
  switch (m_tok.kind) {
    case Tok::KwBegin:
      return ParseCompound();
    case Tok::KwIf:
      return ParseIf();
    case Tok::KwCase:
      return ParseCase();
    case Tok::KwRepeat:
      return ParseRepeat();
    case Tok::KwWhile:
      return ParseWhile();
    case Tok::KwFor:
      return ParseFor();
    case Tok::KwTry:
      return ParseTry();
    case Tok::KwWith:
      return ParseWith();
    case Tok::KwRaise: {
      auto s = MakeStmt(StmtKind::Raise, PosOf(m_tok));
      Advance();
      if (m_tok.kind != Tok::Semicolon && m_tok.kind != Tok::KwEnd && m_tok.kind != Tok::KwElse &&
          m_tok.kind != Tok::KwUntil && m_tok.kind != Tok::KwExcept && m_tok.kind != Tok::KwFinally)
        s->expr = ParseExpr();
      return s;
    }
    case Tok::KwElse:
      if (m_prev.kind == Tok::Semicolon)
        throw CompileError{"';' is not allowed before 'else'", PosOf(m_prev)};
      return MakeStmt(StmtKind::Empty, PosOf(m_tok));
    case Tok::Semicolon:
    case Tok::Eof:
    case Tok::KwEnd:
    case Tok::KwUntil:
    case Tok::KwExcept:
    case Tok::KwFinally:
      return MakeStmt(StmtKind::Empty, PosOf(m_tok));
    case Tok::Name:
      break;
    case Tok::LParen:
      break;
    default:
      FailExpected("statement");
  }
  const Pos pos = PosOf(m_tok);
  ExprPtr target = ParseFactor();
  if (Accept(Tok::Assign)) {
    auto s = MakeStmt(StmtKind::Assign, pos);
    s->target = std::move(target);
    s->expr = ParseExpr();
    return s;
  }
  if (m_tok.kind == Tok::Equal) Fail("':=' expected but '=' found (assignment is written ':=')");
  if (target->kind != ExprKind::Name && target->kind != ExprKind::Call &&
      target->kind != ExprKind::Field)
    Fail("':=' expected but " + Found() + " found");
  auto s = MakeStmt(StmtKind::Call, pos);
  s->expr = std::move(target);
  return s;
}

StmtPtr Parser::ParseIf() {
  auto s = MakeStmt(StmtKind::If, PosOf(m_tok));
  Advance();
  s->expr = ParseExpr();
  Expect(Tok::KwThen);
  s->body.push_back(ParseStatement());
  if (Accept(Tok::KwElse)) {
    s->hasElse = true;
    s->body.push_back(ParseStatement());
  }
  return s;
}

StmtPtr Parser::ParseCase() {
  auto s = MakeStmt(StmtKind::Case, PosOf(m_tok));
  Advance();
  s->expr = ParseExpr();
  Expect(Tok::KwOf);
  while (m_tok.kind != Tok::KwElse && m_tok.kind != Tok::KwEnd) {
    CaseBranch b;
    do {
      ExprPtr label = ParseExpr();
      if (m_tok.kind == Tok::DotDot) {
        auto range = MakeExpr(ExprKind::Binary, label->pos);
        range->op = Tok::DotDot;
        Advance();
        range->args.push_back(std::move(label));
        range->args.push_back(ParseExpr());
        label = std::move(range);
      }
      b.labels.push_back(std::move(label));
    } while (Accept(Tok::Comma));
    Expect(Tok::Colon);
    b.body = ParseStatement();
    s->branches.push_back(std::move(b));
    if (!Accept(Tok::Semicolon)) break;
  }
  if (Accept(Tok::KwElse)) {
    s->hasElse = true;
    ParseStatements(s->other, Tok::KwEnd);
  }
  Expect(Tok::KwEnd, "of 'case'");
  return s;
}

StmtPtr Parser::ParseRepeat() {
  auto s = MakeStmt(StmtKind::Repeat, PosOf(m_tok));
  Advance();
  ParseStatements(s->body, Tok::KwUntil);
  Expect(Tok::KwUntil);
  s->expr = ParseExpr();
  return s;
}

StmtPtr Parser::ParseWhile() {
  auto s = MakeStmt(StmtKind::While, PosOf(m_tok));
  Advance();
  s->expr = ParseExpr();
  Expect(Tok::KwDo);
  s->body.push_back(ParseStatement());
  return s;
}

StmtPtr Parser::ParseFor() {
  auto s = MakeStmt(StmtKind::For, PosOf(m_tok));
  Advance();
  const NamePos var = ExpectName("loop variable");
  s->target = MakeExpr(ExprKind::Name, var.pos);
  s->target->text = var.name;
  s->target->display = var.display;
  Expect(Tok::Assign);
  s->expr = ParseExpr();
  if (Accept(Tok::KwDownto))
    s->downto = true;
  else if (!Accept(Tok::KwTo))
    FailExpected("'to' or 'downto'");
  s->limit = ParseExpr();
  Expect(Tok::KwDo);
  s->body.push_back(ParseStatement());
  return s;
}

StmtPtr Parser::ParseTry() {
  const Pos pos = PosOf(m_tok);
  Advance();
  StmtList body;
  ParseStatements(body, Tok::KwFinally, Tok::KwExcept);
  if (Accept(Tok::KwFinally)) {
    auto s = MakeStmt(StmtKind::TryFinally, pos);
    s->body = std::move(body);
    ParseStatements(s->other, Tok::KwEnd);
    Expect(Tok::KwEnd, "of 'try'");
    return s;
  }
  Expect(Tok::KwExcept);
  auto s = MakeStmt(StmtKind::TryExcept, pos);
  s->body = std::move(body);
  if (m_tok.kind == Tok::KwOn) {
    while (Accept(Tok::KwOn)) {
      ExceptHandler h;
      NamePos first = ExpectName("exception type");
      if (Accept(Tok::Colon)) {
        h.var = first;
        h.type = ExpectName("exception type");
      } else {
        h.type = first;
      }
      Expect(Tok::KwDo);
      h.body = ParseStatement();
      s->handlers.push_back(std::move(h));
      if (!Accept(Tok::Semicolon)) break;
    }
    if (Accept(Tok::KwElse)) {
      s->hasElse = true;
      ParseStatements(s->other, Tok::KwEnd);
    }
  } else {
    ParseStatements(s->other, Tok::KwEnd);
  }
  Expect(Tok::KwEnd, "of 'try'");
  return s;
}

StmtPtr Parser::ParseWith() {
  auto s = MakeStmt(StmtKind::With, PosOf(m_tok));
  Advance();
  do s->withs.push_back(ParseExpr());
  while (Accept(Tok::Comma));
  Expect(Tok::KwDo);
  s->body.push_back(ParseStatement());
  return s;
}

namespace {

// Pascal's three binary precedence levels, loosest first.
bool IsRelational(Tok t) { return IsComparison(t) || t == Tok::KwIn || t == Tok::KwIs; }

bool IsAdding(Tok t) {
  return t == Tok::Plus || t == Tok::Minus || t == Tok::KwOr || t == Tok::KwXor;
}

bool IsMultiplying(Tok t) {
  switch (t) {
    case Tok::Star:
    case Tok::Slash:
    case Tok::KwDiv:
    case Tok::KwMod:
    case Tok::KwAnd:
    case Tok::KwShl:
    case Tok::KwShr:
      return true;
    default:
      return false;
  }
}

}  // namespace

// One left-associative level: operands from `next`, joined while `isOperator` holds.
ExprPtr Parser::ParseBinaryLevel(bool (*isOperator)(Tok), ExprPtr (Parser::*next)()) {
  Chain chain(*this);
  ExprPtr left = (this->*next)();
  while (isOperator(m_tok.kind)) {
    chain.Link();
    auto e = MakeExpr(ExprKind::Binary, PosOf(m_tok));
    e->op = m_tok.kind;
    Advance();
    e->args.push_back(std::move(left));
    e->args.push_back((this->*next)());
    left = std::move(e);
  }
  return left;
}

ExprPtr Parser::ParseExpr() {
  Depth depth(*this);
  return ParseBinaryLevel(IsRelational, &Parser::ParseSimple);
}

ExprPtr Parser::ParseSimple() { return ParseBinaryLevel(IsAdding, &Parser::ParseTerm); }

ExprPtr Parser::ParseTerm() { return ParseBinaryLevel(IsMultiplying, &Parser::ParseFactor); }

ExprPtr Parser::ParseFactor() {
  Depth depth(*this);
  const Pos pos = PosOf(m_tok);
  switch (m_tok.kind) {
    case Tok::Int: {
      auto e = MakeExpr(ExprKind::Int, pos);
      e->integer = m_tok.integer;
      e->display = m_tok.text;
      Advance();
      return e;
    }
    case Tok::Real: {
      auto e = MakeExpr(ExprKind::Real, pos);
      e->real = m_tok.real;
      e->display = m_tok.text;
      Advance();
      return e;
    }
    case Tok::Text: {
      auto e = MakeExpr(ExprKind::Text, pos);
      e->text = m_tok.text;
      Advance();
      return ParseDesignator(std::move(e));
    }
    case Tok::Name: {
      auto e = MakeExpr(ExprKind::Name, pos);
      e->text = m_tok.name;
      e->display = m_tok.text;
      Advance();
      return ParseDesignator(std::move(e));
    }
    case Tok::LParen: {
      Advance();
      ExprPtr inner = ParseExpr();
      Expect(Tok::RParen);
      return ParseDesignator(std::move(inner));
    }
    case Tok::KwNot:
    case Tok::Minus:
    case Tok::Plus:
    case Tok::At: {
      auto e = MakeExpr(ExprKind::Unary, pos);
      e->op = m_tok.kind;
      Advance();
      e->args.push_back(ParseFactor());
      return e;
    }
    case Tok::LBracket: {
      auto e = MakeExpr(ExprKind::SetLit, pos);
      Advance();
      while (m_tok.kind != Tok::RBracket) {
        ExprPtr item = ParseExpr();
        if (m_tok.kind == Tok::DotDot) {
          auto range = MakeExpr(ExprKind::Binary, item->pos);
          range->op = Tok::DotDot;
          Advance();
          range->args.push_back(std::move(item));
          range->args.push_back(ParseExpr());
          item = std::move(range);
        }
        e->args.push_back(std::move(item));
        if (!Accept(Tok::Comma)) break;
      }
      Expect(Tok::RBracket);
      return e;
    }
    default:
      FailExpected("expression");
  }
}

ExprPtr Parser::ParseDesignator(ExprPtr base) {
  Chain chain(*this);
  for (;;) {
    const Pos pos = PosOf(m_tok);
    if (m_tok.kind == Tok::LParen || m_tok.kind == Tok::LBracket || m_tok.kind == Tok::Dot)
      chain.Link();
    if (m_tok.kind == Tok::LParen) {
      Depth depth(*this);
      auto e = MakeExpr(ExprKind::Call, base->pos);
      Advance();
      ParseArgs(e->args, Tok::RParen);
      e->base = std::move(base);
      base = std::move(e);
    } else if (m_tok.kind == Tok::LBracket) {
      Depth depth(*this);
      auto e = MakeExpr(ExprKind::Index, pos);
      Advance();
      ParseArgs(e->args, Tok::RBracket);
      if (e->args.empty()) Fail("Index expected");
      e->base = std::move(base);
      base = std::move(e);
    } else if (m_tok.kind == Tok::Dot) {
      Depth depth(*this);
      Advance();
      auto e = MakeExpr(ExprKind::Field, pos);
      const NamePos field = ExpectName("field name");
      e->text = field.name;
      e->display = field.display;
      e->pos = field.pos;
      e->base = std::move(base);
      base = std::move(e);
    } else if (m_tok.kind == Tok::Caret) {
      Fail("Pointers are not supported");
    } else {
      return base;
    }
  }
}

// A value, or a parenthesised list of values for an array; "(1 + 2) * 3" stays a value.
ExprPtr Parser::ParseInitializer() {
  Depth depth(*this);
  if (m_tok.kind != Tok::LParen) return ParseExpr();
  const Lexer savedLexer = m_lexer;
  const Token savedTok = m_tok, savedPrev = m_prev;
  const Pos pos = PosOf(m_tok);
  Advance();
  auto list = MakeExpr(ExprKind::List, pos);
  do list->args.push_back(ParseInitializer());
  while (Accept(Tok::Comma));
  Expect(Tok::RParen);
  const bool ends =
      m_tok.kind == Tok::Semicolon || m_tok.kind == Tok::Comma || m_tok.kind == Tok::RParen;
  if (list->args.size() == 1 && list->args[0]->kind != ExprKind::List) {
    if (ends) return std::move(list->args[0]);
    // "(1 + 2) * 3": a value after all; read it again as an expression.
    m_lexer = savedLexer;
    m_tok = savedTok;
    m_prev = savedPrev;
    return ParseExpr();
  }
  return list;
}

void Parser::ParseArgs(std::vector<ExprPtr>& args, Tok close) {
  if (Accept(close)) return;
  do args.push_back(ParseExpr());
  while (Accept(Tok::Comma));
  Expect(close);
}

}  // namespace velkor

// Statements.

#include "script/CompilerImpl.h"

namespace velkor::compiler {

// ---------------------------------------------------------------- statements

void Compiler::JumpOut(size_t depth, std::vector<int>* patch, Pos pos) {
  (void)pos;
  for (size_t k = m_st.controls.size(); k-- > depth + 1;) {
    Control& c = m_st.controls[k];
    switch (c.kind) {
      case ControlKind::Loop:
        break;
      case ControlKind::TryExcept:
        Emit(Op::PopTry);
        break;
      case ControlKind::ExceptBlock:
        Emit(Op::EndExcept);
        break;
      case ControlKind::TryFinally:
        Emit(Op::PopTry);
        EmitBC(Op::SetJump, c.stateReg, Here() + 2);
        c.toFinally.push_back(EmitJump(Op::Jmp));
        break;
    }
  }
  patch->push_back(EmitJump(Op::Jmp));
}

int Compiler::CondJumpFalse(const Expr& e) {
  if (e.kind == ExprKind::Binary && e.op == Tok::Less) {
    ExprResult l = CompileExpr(*e.args[0]);
    ExprResult r = CompileExpr(*e.args[1]);
    if (l.type->kind == TypeKind::Int && r.type->kind == TypeKind::Int) {
      Emit(Op::LtIJ, l.reg, r.reg);
      return EmitJump(Op::Jmp);
    }
    const int b = CompareRegs(e.op, l, r, -1, e.pos).reg;
    return EmitJump(Op::JF, b);
  }
  const int b = ExprTo(e, StdType(Scalar::Bool));
  return EmitJump(Op::JF, b);
}

void Compiler::CompileStmt(const Stmt& s) {
  m_line = s.pos.line;
  const int floor = m_st.floor;
  switch (s.kind) {
    case StmtKind::Empty:
      break;
    case StmtKind::Assign:
      CompileAssign(s);
      break;
    case StmtKind::Call: {
      const Expr& e = *s.expr;
      const Expr& callee = e.kind == ExprKind::Call ? *e.base : e;
      const std::vector<ExprPtr> none;
      const std::vector<ExprPtr>& args = e.kind == ExprKind::Call ? e.args : none;
      if (callee.kind == ExprKind::Name && !Lookup(callee.text)) {
        if (callee.text == "break" || callee.text == "continue") {
          if (!args.empty()) Fail(e.pos, Quote(callee.display) + " takes no parameters");
          size_t k = m_st.controls.size();
          while (k > 0 && m_st.controls[k - 1].kind != ControlKind::Loop) --k;
          if (k == 0) Fail(e.pos, Quote(callee.display) + " outside a loop");
          Control& loop = m_st.controls[k - 1];
          std::vector<int> jumps;
          JumpOut(k - 1, &jumps, e.pos);
          auto& list = callee.text == "break" ? loop.breaks : loop.continues;
          list.insert(list.end(), jumps.begin(), jumps.end());
          break;
        }
        if (callee.text == "exit") {
          if (args.size() > 1) Fail(e.pos, "Too many actual parameters for 'Exit'");
          if (args.size() == 1) {
            if (m_st.fn->resultReg < 0) Fail(e.pos, "Exit(value) is allowed only in a function");
            ExprTo(*args[0], m_st.fn->resultType, m_st.fn->resultReg);
          }
          // exits are patched after the whole routine, so count controls from the bottom.
          std::vector<int> jumps;
          JumpOut(size_t(-1), &jumps, e.pos);
          m_st.exits.insert(m_st.exits.end(), jumps.begin(), jumps.end());
          break;
        }
      }
      if (e.kind != ExprKind::Name && e.kind != ExprKind::Call)
        Fail(e.pos, "Statement expected, but expression found");
      CompileCall(callee, args, e.pos, -1, true);
      break;
    }
    case StmtKind::Compound:
      CompileStmts(s.body);
      break;
    case StmtKind::If:
      CompileIf(s);
      break;
    case StmtKind::Case:
      CompileCase(s);
      break;
    case StmtKind::Repeat:
      CompileRepeat(s);
      break;
    case StmtKind::While:
      CompileWhile(s);
      break;
    case StmtKind::For:
      CompileFor(s);
      break;
    case StmtKind::TryFinally:
      CompileTryFinally(s);
      break;
    case StmtKind::TryExcept:
      CompileTryExcept(s);
      break;
    case StmtKind::With:
      CompileWith(s);
      break;
    case StmtKind::Raise:
      CompileRaise(s);
      break;
  }
  m_st.floor = floor;
  m_st.nextReg = floor;
}

void Compiler::CompileAssign(const Stmt& s) {
  const Expr& target = *s.target;
  const Expr& value = *s.expr;
  LValue lv = CompileLValue(target);
  if (lv.readOnly) {
    Fail(target.pos, "Cannot assign to " + Quote(lv.display.empty() ? "it" : lv.display) +
                         ": a const parameter or a loop variable");
  }
  if (lv.type->IsAggregate()) {
    ExprResult v = CompileExpr(value);
    const int src = Coerce(v, lv.type, -1, value.pos);
    const int dst = Load(lv, -1);
    Emit(Op::CopyAgg, dst, src);
    return;
  }
  // s := s + x appends in place.
  if (lv.type->kind == TypeKind::Str && value.kind == ExprKind::Binary && value.op == Tok::Plus &&
      value.args[0]->kind == ExprKind::Name && target.kind == ExprKind::Name &&
      value.args[0]->text == target.text &&
      (lv.kind == LValue::Kind::Reg || lv.kind == LValue::Kind::Global)) {
    ExprResult r = CompileExpr(*value.args[1]);
    if (r.type->kind == TypeKind::Str || r.type->kind == TypeKind::Char) {
      const int piece = Coerce(r, StdType(Scalar::Str), -1, value.pos);
      if (lv.kind == LValue::Kind::Reg)
        Emit(Op::Append, lv.reg, piece);
      else
        Emit(Op::AppendG, lv.index, piece);
      return;
    }
    if (r.type->kind != TypeKind::Variant)
      Fail(value.pos, "Incompatible types: 'String' and " + Quote(TypeName(r.type)));
    const int left = Load(lv, -1);
    ExprResult sum = VariantOp(Op::AddV, {left, lv.type}, r, -1, value.pos);
    Store(lv, Coerce(sum, lv.type, lv.kind == LValue::Kind::Reg ? lv.reg : -1, value.pos));
    return;
  }
  const int want = lv.kind == LValue::Kind::Reg ? lv.reg : -1;
  const int r = ExprTo(value, lv.type, want);
  if (lv.kind != LValue::Kind::Reg) Store(lv, r);
}

void Compiler::CompileIf(const Stmt& s) {
  const int skip = CondJumpFalse(*s.expr);
  m_st.nextReg = m_st.floor;
  CompileStmt(*s.body[0]);
  if (s.hasElse) {
    const int end = EmitJump(Op::Jmp);
    PatchHere(skip);
    CompileStmt(*s.body[1]);
    PatchHere(end);
  } else {
    PatchHere(skip);
  }
}

void Compiler::CompileCase(const Stmt& s) {
  ExprResult sel = CompileExpr(*s.expr);
  if (!sel.type->IsOrdinal() && sel.type->kind != TypeKind::Str &&
      sel.type->kind != TypeKind::Variant)
    Fail(s.expr->pos, "Ordinal value expected after 'case', not " + Quote(TypeName(sel.type)));
  m_st.floor = m_st.nextReg;
  std::vector<int> ends;
  for (const CaseBranch& b : s.branches) {
    std::vector<int> hits;
    for (const ExprPtr& label : b.labels) {
      const int mark = m_st.nextReg;
      const int t = Temp();
      const auto constant = [&](const Expr& e) -> ExprResult {
        const ConstVal c = RequireConst(e, "case label");
        return {LoadConst(c, -1), c.type};
      };
      if (label->kind == ExprKind::Binary && label->op == Tok::DotDot) {
        CompareRegs(Tok::GreaterEqual, sel, constant(*label->args[0]), t, label->pos);
        const int miss = EmitJump(Op::JF, t);
        CompareRegs(Tok::LessEqual, sel, constant(*label->args[1]), t, label->pos);
        hits.push_back(EmitJump(Op::JT, t));
        PatchHere(miss);
      } else {
        CompareRegs(Tok::Equal, sel, constant(*label), t, label->pos);
        hits.push_back(EmitJump(Op::JT, t));
      }
      m_st.nextReg = mark;
    }
    const int next = EmitJump(Op::Jmp);
    PatchAll(hits, Here());
    CompileStmt(*b.body);
    ends.push_back(EmitJump(Op::Jmp));
    PatchHere(next);
  }
  CompileStmts(s.other);
  PatchAll(ends, Here());
}

void Compiler::CompileWhile(const Stmt& s) {
  const int start = Here();
  const int exit = CondJumpFalse(*s.expr);
  m_st.nextReg = m_st.floor;
  m_st.controls.push_back({ControlKind::Loop, {}, {}, {}, -1});
  CompileStmt(*s.body[0]);
  Control loop = std::move(m_st.controls.back());
  m_st.controls.pop_back();
  PatchAll(loop.continues, Here());
  EmitLoopTo(start);
  PatchHere(exit);
  PatchAll(loop.breaks, Here());
}

void Compiler::CompileRepeat(const Stmt& s) {
  const int start = Here();
  m_st.controls.push_back({ControlKind::Loop, {}, {}, {}, -1});
  CompileStmts(s.body);
  Control loop = std::move(m_st.controls.back());
  m_st.controls.pop_back();
  PatchAll(loop.continues, Here());
  const int done = ExprTo(*s.expr, StdType(Scalar::Bool));
  const int exit = EmitJump(Op::JT, done);
  EmitLoopTo(start);
  PatchHere(exit);
  PatchAll(loop.breaks, Here());
}

void Compiler::CompileFor(const Stmt& s) {
  LValue lv = CompileLValue(*s.target);
  const Type* t = lv.type;
  if (!t->IsOrdinal()) Fail(s.target->pos, "Ordinal loop variable expected, not " + Quote(t->name));
  if (lv.readOnly) Fail(s.target->pos, "Cannot use a read-only variable as a loop variable");
  const int counter = lv.kind == LValue::Kind::Reg ? lv.reg : Temp();
  const int limit = Temp();
  ExprTo(*s.limit, t, limit);
  ExprTo(*s.expr, t, counter);
  m_st.floor = m_st.nextReg;
  const int test = Temp();
  Emit(s.downto ? Op::LtI : Op::GtI, test, counter, limit);
  const int exit = EmitJump(Op::JT, test);
  m_st.nextReg = m_st.floor;
  const int body = Here();
  if (lv.kind != LValue::Kind::Reg) Store(lv, counter);
  Symbol* sym = Lookup(s.target->text);
  const bool wasReadOnly = sym->readOnly;
  sym->readOnly = true;
  m_st.controls.push_back({ControlKind::Loop, {}, {}, {}, -1});
  CompileStmt(*s.body[0]);
  Control loop = std::move(m_st.controls.back());
  m_st.controls.pop_back();
  sym = Lookup(s.target->text);
  sym->readOnly = wasReadOnly;
  PatchAll(loop.continues, Here());
  const int back = Here() + 1 - body;
  m_line = s.pos.line;
  Emit(s.downto ? Op::ForDown : Op::ForUp, counter, limit, back & 0xFFFF, back >> 16);
  if (back >> 24) Fail(s.pos, "Loop body too long");
  PatchHere(exit);
  PatchAll(loop.breaks, Here());
}

void Compiler::CompileTryExcept(const Stmt& s) {
  const int handler = EmitJump(Op::TryExcept);
  m_st.controls.push_back({ControlKind::TryExcept, {}, {}, {}, -1});
  CompileStmts(s.body);
  m_st.controls.pop_back();
  Emit(Op::PopTry);
  const int done = EmitJump(Op::Jmp);
  PatchHere(handler);
  m_st.controls.push_back({ControlKind::ExceptBlock, {}, {}, {}, -1});
  std::vector<int> ends;
  if (s.handlers.empty()) {
    CompileStmts(s.other);
    Emit(Op::EndExcept);
  } else {
    for (const ExceptHandler& h : s.handlers) {
      const unsigned mask = ExceptionTypeMask(h.type.name);
      if (!mask) Fail(h.type.pos, "Unknown exception type " + Quote(h.type.display));
      const int t = Temp();
      ConstVal c;
      c.type = StdType(Scalar::IntAny);
      c.i = mask;
      BuiltinCall("$excmatch", t, {LoadConst(c, -1)});
      const int next = EmitJump(Op::JF, t);
      m_st.nextReg = m_st.floor;
      m_scopes.emplace_back();
      if (!h.var.name.empty()) {
        Symbol sym;
        sym.kind = SymKind::ExcVar;
        sym.type = StdType(Scalar::Str);
        Declare(h.var, sym);
      }
      CompileStmt(*h.body);
      m_scopes.pop_back();
      Emit(Op::EndExcept);
      ends.push_back(EmitJump(Op::Jmp));
      PatchHere(next);
    }
    if (s.hasElse) {
      CompileStmts(s.other);
      Emit(Op::EndExcept);
    } else {
      Emit(Op::Reraise);
    }
  }
  m_st.controls.pop_back();
  PatchAll(ends, Here());
  PatchHere(done);
}

void Compiler::CompileTryFinally(const Stmt& s) {
  const int state = Temp();
  m_st.floor = m_st.nextReg;
  Emit(Op::LoadInt, state);
  const int handler = EmitJump(Op::TryFinally, state);
  m_st.controls.push_back({ControlKind::TryFinally, {}, {}, {}, state});
  CompileStmts(s.body);
  Control c = std::move(m_st.controls.back());
  m_st.controls.pop_back();
  Emit(Op::PopTry);
  PatchHere(handler);
  PatchAll(c.toFinally, Here());
  CompileStmts(s.other);
  Emit(Op::EndFinally, state);
}

void Compiler::CompileWith(const Stmt& s) {
  const size_t scopes = m_scopes.size();
  for (const ExprPtr& e : s.withs) {
    ExprResult r = CompileExpr(*e);
    if (r.type->kind != TypeKind::Record)
      Fail(e->pos, "Record expected after 'with', not " + Quote(TypeName(r.type)));
    m_st.floor = m_st.nextReg;
    m_scopes.emplace_back();
    for (size_t k = 0; k < r.type->fields.size(); ++k) {
      Symbol sym;
      sym.kind = SymKind::WithField;
      sym.type = r.type->fields[k].type;
      sym.index = r.reg;
      sym.slot = int(k);
      sym.display = r.type->fields[k].display;
      m_scopes.back().names[r.type->fields[k].name] = sym;
    }
  }
  CompileStmt(*s.body[0]);
  m_scopes.resize(scopes);
}

void Compiler::CompileRaise(const Stmt& s) {
  if (!s.expr) {
    bool inside = false;
    for (const Control& c : m_st.controls) inside = inside || c.kind == ControlKind::ExceptBlock;
    if (!inside) Fail(s.pos, "'raise' without an exception is allowed only in an except block");
    Emit(Op::Reraise);
    return;
  }
  const Expr& e = *s.expr;
  int text;
  if (e.kind == ExprKind::Call && e.base->kind == ExprKind::Field &&
      e.base->base->kind == ExprKind::Name && ExceptionTypeMask(e.base->base->text)) {
    const std::string& method = e.base->text;
    if (method == "create" && e.args.size() == 1) {
      text = ExprTo(*e.args[0], StdType(Scalar::Str));
    } else if (method == "createfmt" && e.args.size() == 2) {
      const BuiltinInfo* format = FindBuiltin("format");
      text = CallBuiltin(*format, e.args, e.pos, -1).reg;
    } else {
      Fail(e.pos, "Exception.Create(text) or Exception.CreateFmt(format, [args]) expected");
    }
  } else {
    text = ExprTo(e, StdType(Scalar::Str));
  }
  Emit(Op::Raise, text);
}

}  // namespace velkor::compiler

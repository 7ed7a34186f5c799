// Expressions, lvalues and the globals a routine keeps in registers.

#include "script/CompilerImpl.h"

namespace velkor::compiler {

// ---------------------------------------------------------------- expressions

int Compiler::Coerce(ExprResult r, const Type* to, int want, Pos pos) {
  const Type* from = r.type;
  if (from == to) return ToReg(r, want);
  const TypeKind fk = from->kind, tk = to->kind;
  switch (tk) {
    case TypeKind::Int:
      if (fk == TypeKind::Int) {
        if (RangeWithin(from->scalar, to->scalar)) return ToReg(r, want);
        const int dst = Target(want);
        Emit(Op::MoveChk, dst, r.reg, 0, int(to->scalar));
        return dst;
      }
      if (fk == TypeKind::Variant) {
        const int dst = Target(want);
        Emit(Op::FromVar, dst, r.reg, 0, int(to->scalar));
        return dst;
      }
      break;
    case TypeKind::Real:
      if (fk == TypeKind::Int || fk == TypeKind::Real) {
        int dst = r.reg;
        if (fk == TypeKind::Int) {
          dst = Target(want);
          Emit(Op::IToF, dst, r.reg);
        }
        if (to->scalar == Scalar::Single && from->scalar != Scalar::Single) {
          const int single = dst == r.reg ? Target(want) : dst;
          Emit(Op::ToSingle, single, dst);
          dst = single;
        }
        return ToReg({dst, to}, want);
      }
      if (fk == TypeKind::Variant) {
        const int dst = Target(want);
        Emit(Op::FromVar, dst, r.reg, 0, int(to->scalar));
        return dst;
      }
      break;
    case TypeKind::Bool:
    case TypeKind::Char:
      if (fk == tk) return ToReg(r, want);
      if (fk == TypeKind::Variant) {
        const int dst = Target(want);
        Emit(Op::FromVar, dst, r.reg, 0, int(to->scalar));
        return dst;
      }
      break;
    case TypeKind::Str:
      if (fk == TypeKind::Str) return ToReg(r, want);
      if (fk == TypeKind::Char) {
        const int dst = Target(want);
        Emit(Op::CharToStr, dst, r.reg);
        return dst;
      }
      if (fk == TypeKind::Variant) {
        const int dst = Target(want);
        Emit(Op::FromVar, dst, r.reg, 0, int(Scalar::Str));
        return dst;
      }
      break;
    case TypeKind::Variant:
      if (fk == TypeKind::Variant) return ToReg(r, want);
      if (fk == TypeKind::Nil) {
        const int dst = Target(want);
        Emit(Op::LoadNull, dst);
        return dst;
      }
      if (fk == TypeKind::Int || fk == TypeKind::Real || fk == TypeKind::Bool ||
          fk == TypeKind::Char || fk == TypeKind::Str) {
        const int dst = Target(want);
        Emit(Op::ToVar, dst, r.reg, 0, int(from->scalar));
        return dst;
      }
      break;
    case TypeKind::Array:
    case TypeKind::Record:
      // Structurally equal aggregates: the same declaration spelt twice.
      if (fk == tk && from->name == to->name && LayoutOf(from) >= 0 &&
          m_prog->layouts[LayoutOf(from)].count == m_prog->layouts[LayoutOf(to)].count)
        return ToReg(r, want);
      break;
    default:
      break;
  }
  if (tk == TypeKind::Void || fk == TypeKind::Void)
    Fail(pos, fk == TypeKind::Void ? "A procedure has no value to use here"
                                   : "Expression has no type here");
  Fail(pos, "Incompatible types: " + Quote(TypeName(to)) + " and " + Quote(TypeName(from)));
}

int Compiler::ExprTo(const Expr& e, const Type* to, int want) {
  // A one-letter literal is a Char, and a text where a text is expected.
  if (e.kind == ExprKind::Text && to->kind == TypeKind::Str) {
    ConstVal c;
    c.type = StdType(Scalar::Str);
    c.s = e.text;
    return LoadConst(c, want);
  }
  if (e.kind == ExprKind::Text && to->kind == TypeKind::Char && e.text.size() != 1)
    Fail(e.pos, "Incompatible types: 'Char' and 'String'");
  if (to->kind == TypeKind::Real) {
    if (auto c = ConstEval(e); c && c->type->kind == TypeKind::Int) {
      ConstVal real;
      real.type = StdType(Scalar::Double);
      real.d = double(c->i);
      return Coerce({LoadConst(real, want), real.type}, to, want, e.pos);
    }
  }
  if (to->kind == TypeKind::Variant && e.kind == ExprKind::Text) {
    ConstVal c;
    c.type = StdType(Scalar::Str);
    c.s = e.text;
    const int r = LoadConst(c, -1);
    return Coerce({r, c.type}, to, want, e.pos);
  }
  return Coerce(CompileExpr(e, want), to, want, e.pos);
}

ExprResult Compiler::CompileExpr(const Expr& e, int want) {
  m_line = e.pos.line;
  switch (e.kind) {
    case ExprKind::Int:
    case ExprKind::Real:
    case ExprKind::Text: {
      const ConstVal c = *ConstEval(e);
      return {LoadConst(c, want), c.type};
    }
    case ExprKind::Name:
      return CompileName(e, want);
    case ExprKind::Call:
      return CompileCall(*e.base, e.args, e.pos, want, false);
    case ExprKind::Index:
      return CompileIndex(e, want);
    case ExprKind::Field:
      return CompileField(e, want);
    case ExprKind::Unary:
      return CompileUnary(e, want);
    case ExprKind::Binary:
      if (auto c = ConstEval(e)) return {LoadConst(*c, want), c->type};
      return CompileBinary(e, want);
    case ExprKind::SetLit:
      Fail(e.pos, "A set is allowed only on the right of 'in' or as a Format argument");
    case ExprKind::List:
      Fail(e.pos, "A list of values (...) is allowed only as the first value of an array");
  }
  Fail(e.pos, "Expression expected");
}

ExprResult Compiler::CompileName(const Expr& e, int want) {
  Symbol* s = Lookup(e.text);
  if (!s) {
    if (auto c = ConstEval(e)) return {LoadConst(*c, want), c->type};
    return CompileCall(e, {}, e.pos, want, false);
  }
  switch (s->kind) {
    case SymKind::Const:
      return {LoadConst(s->value, want), s->type};
    case SymKind::Routine:
      return CompileCall(e, {}, e.pos, want, false);
    case SymKind::Type:
      Fail(e.pos, "Type " + Quote(e.display) + " used as a value");
    case SymKind::ExcVar:
      Fail(e.pos, "Use " + e.display + ".Message for the text of the exception");
    default: {
      LValue lv = CompileLValue(e);
      return {Load(lv, want), lv.type};
    }
  }
}

ExprResult Compiler::CompileUnary(const Expr& e, int want) {
  if (auto c = ConstEval(e)) return {LoadConst(*c, want), c->type};
  if (e.op == Tok::At) Fail(e.pos, "Pointers are not supported");
  ExprResult v = CompileExpr(*e.args[0]);
  const TypeKind k = v.type->kind;
  if (e.op == Tok::Plus) {
    if (!v.type->IsNumeric() && k != TypeKind::Variant)
      Fail(e.pos, "Operator '+' not applicable to " + Quote(TypeName(v.type)));
    return {ToReg(v, want), v.type};
  }
  const int dst = Target(want);
  if (e.op == Tok::Minus) {
    if (k == TypeKind::Int) {
      Emit(Op::NegI, dst, v.reg);
      return {dst, StdType(Scalar::IntAny)};
    }
    if (k == TypeKind::Real) {
      Emit(Op::NegF, dst, v.reg);
      return {dst, v.type->scalar == Scalar::Single ? StdType(Scalar::Double) : v.type};
    }
    if (k == TypeKind::Variant) {
      Emit(Op::NegV, dst, v.reg);
      return {dst, v.type};
    }
    Fail(e.pos, "Operator '-' not applicable to " + Quote(TypeName(v.type)));
  }
  // not
  if (k == TypeKind::Bool) {
    Emit(Op::Not, dst, v.reg);
    return {dst, v.type};
  }
  if (k == TypeKind::Int) {
    Emit(Op::NotI, dst, v.reg);
    return {dst, StdType(Scalar::IntAny)};
  }
  if (k == TypeKind::Variant) {
    Emit(Op::NotV, dst, v.reg);
    return {dst, v.type};
  }
  Fail(e.pos, "Operator 'not' not applicable to " + Quote(TypeName(v.type)));
}

ExprResult Compiler::VariantOp(Op op, ExprResult l, ExprResult r, int want, Pos pos) {
  const Type* var = StdType(Scalar::Variant);
  const int a = Coerce(l, var, -1, pos);
  const int b = Coerce(r, var, -1, pos);
  const int dst = Target(want);
  Emit(op, dst, a, b);
  return {dst, var};
}

ExprResult Compiler::CompileBinary(const Expr& e, int want) {
  if (IsComparison(e.op)) return CompileCompare(e, want);
  switch (e.op) {
    case Tok::KwIn:
      return CompileIn(e, want);
    case Tok::KwIs:
      Fail(e.pos, "'is' needs classes, which this dialect does not have; use VarType");
    case Tok::DotDot:
      Fail(e.pos, "A range is allowed only in a set or a case label");
    default:
      break;
  }
  if (e.op == Tok::KwAnd || e.op == Tok::KwOr) {
    return CompileLogical(e, want);
  }
  const Expr& le = *e.args[0];
  const Expr& re = *e.args[1];
  // x + 1 and x - 1: the constant goes into the instruction.
  if ((e.op == Tok::Plus || e.op == Tok::Minus)) {
    if (auto rc = ConstEval(re); rc && rc->type->kind == TypeKind::Int) {
      const int64_t k = e.op == Tok::Plus ? rc->i : -rc->i;
      if (k >= -32768 && k <= 32767 && rc->i != INT64_MIN) {
        ExprResult l = CompileExpr(le);
        if (l.type->kind == TypeKind::Int) {
          const int dst = Target(want);
          Emit(Op::AddIK, dst, l.reg, uint16_t(int16_t(k)));
          return {dst, StdType(Scalar::IntAny)};
        }
        ExprResult r{LoadConst(*rc, -1), rc->type};
        return CompileBinaryOperands(e, l, r, want);
      }
    }
  }
  ExprResult l = Pin(CompileExpr(le), re);
  ExprResult r = CompileExpr(re);
  return CompileBinaryOperands(e, l, r, want);
}

ExprResult Compiler::CompileBinaryOperands(const Expr& e, ExprResult l, ExprResult r, int want) {
  const TypeKind lk = l.type->kind, rk = r.type->kind;
  const Pos pos = e.pos;
  if (lk == TypeKind::Variant || rk == TypeKind::Variant) {
    switch (e.op) {
      case Tok::Plus:
        return VariantOp(Op::AddV, l, r, want, pos);
      case Tok::Minus:
        return VariantOp(Op::SubV, l, r, want, pos);
      case Tok::Star:
        return VariantOp(Op::MulV, l, r, want, pos);
      case Tok::Slash:
        return VariantOp(Op::DivV, l, r, want, pos);
      case Tok::KwDiv:
        return VariantOp(Op::IDivV, l, r, want, pos);
      case Tok::KwMod:
        return VariantOp(Op::ModV, l, r, want, pos);
      case Tok::KwXor:
        return VariantOp(Op::XorV, l, r, want, pos);
      case Tok::KwShl:
        return VariantOp(Op::ShlV, l, r, want, pos);
      case Tok::KwShr:
        return VariantOp(Op::ShrV, l, r, want, pos);
      default:
        break;
    }
  }
  const bool lText = lk == TypeKind::Str || lk == TypeKind::Char;
  const bool rText = rk == TypeKind::Str || rk == TypeKind::Char;
  if (e.op == Tok::Plus && lText && rText) {
    const int a = Coerce(l, StdType(Scalar::Str), -1, pos);
    const int b = Coerce(r, StdType(Scalar::Str), -1, pos);
    const int dst = Target(want);
    Emit(Op::Concat, dst, a, b);
    return {dst, StdType(Scalar::Str)};
  }
  if (lk == TypeKind::Int && rk == TypeKind::Int) {
    Op op = Op::Nop;
    switch (e.op) {
      case Tok::Plus:
        op = Op::AddI;
        break;
      case Tok::Minus:
        op = Op::SubI;
        break;
      case Tok::Star:
        op = Op::MulI;
        break;
      case Tok::KwDiv:
        op = Op::DivI;
        break;
      case Tok::KwMod:
        op = Op::ModI;
        break;
      case Tok::KwXor:
        op = Op::XorI;
        break;
      case Tok::KwShl:
        op = Op::ShlI;
        break;
      case Tok::KwShr:
        op = Op::ShrI;
        break;
      default:
        break;
    }
    if (op != Op::Nop) {
      const int dst = Target(want);
      Emit(op, dst, l.reg, r.reg);
      return {dst, StdType(Scalar::IntAny)};
    }
  }
  if (lk == TypeKind::Bool && rk == TypeKind::Bool && e.op == Tok::KwXor) {
    const int dst = Target(want);
    Emit(Op::NeI, dst, l.reg, r.reg);
    return {dst, StdType(Scalar::Bool)};
  }
  if (l.type->IsNumeric() && r.type->IsNumeric()) {
    Op op = Op::Nop;
    switch (e.op) {
      case Tok::Plus:
        op = Op::AddF;
        break;
      case Tok::Minus:
        op = Op::SubF;
        break;
      case Tok::Star:
        op = Op::MulF;
        break;
      case Tok::Slash:
        op = Op::DivF;
        break;
      default:
        break;
    }
    if (op != Op::Nop) {
      const Type* real = StdType(Scalar::Double);
      const int a = Coerce(l, lk == TypeKind::Int ? real : l.type, -1, pos);
      const int b = Coerce(r, rk == TypeKind::Int ? real : r.type, -1, pos);
      const int dst = Target(want);
      Emit(op, dst, a, b);
      return {dst, real};
    }
  }
  Fail(pos, std::string("Operator ") + TokName(e.op) + " not applicable to " +
                Quote(TypeName(l.type)) + " and " + Quote(TypeName(r.type)));
}

ExprResult Compiler::CompileLogical(const Expr& e, int want) {
  const bool isAnd = e.op == Tok::KwAnd;
  ExprResult l = CompileExpr(*e.args[0]);
  if (l.type->kind == TypeKind::Bool) {
    // The right side runs only when the left does not decide (Delphi's {$B-}).
    const int dst = Temp();
    Emit(Op::Move, dst, l.reg);
    const int skip = EmitJump(isAnd ? Op::JF : Op::JT, dst);
    ExprTo(*e.args[1], StdType(Scalar::Bool), dst);
    PatchHere(skip);
    return {ToReg({dst, l.type}, want), l.type};
  }
  l = Pin(l, *e.args[1]);
  ExprResult r = CompileExpr(*e.args[1]);
  if (l.type->kind == TypeKind::Int && r.type->kind == TypeKind::Int) {
    const int dst = Target(want);
    Emit(isAnd ? Op::AndI : Op::OrI, dst, l.reg, r.reg);
    return {dst, StdType(Scalar::IntAny)};
  }
  if (l.type->kind == TypeKind::Variant || r.type->kind == TypeKind::Variant)
    return VariantOp(isAnd ? Op::AndV : Op::OrV, l, r, want, e.pos);
  Fail(e.pos, std::string("Operator ") + TokName(e.op) + " not applicable to " +
                  Quote(TypeName(l.type)) + " and " + Quote(TypeName(r.type)));
}

ExprResult Compiler::CompareRegs(Tok op, ExprResult l, ExprResult r, int want, Pos pos) {
  const TypeKind lk = l.type->kind, rk = r.type->kind;
  int family = -1;  // 0 integer, 1 real, 2 text, 3 variant
  int a = l.reg, b = r.reg;
  if (lk == TypeKind::Variant || rk == TypeKind::Variant) {
    if (lk == TypeKind::Nil || rk == TypeKind::Nil || l.type->IsAggregate() ||
        r.type->IsAggregate())
      Fail(pos,
           "Incompatible types: " + Quote(TypeName(l.type)) + " and " + Quote(TypeName(r.type)));
    a = Coerce(l, StdType(Scalar::Variant), -1, pos);
    b = Coerce(r, StdType(Scalar::Variant), -1, pos);
    family = 3;
  } else if (lk == TypeKind::Int && rk == TypeKind::Int) {
    family = 0;
  } else if (l.type->IsNumeric() && r.type->IsNumeric()) {
    a = Coerce(l, lk == TypeKind::Int ? StdType(Scalar::Double) : l.type, -1, pos);
    b = Coerce(r, rk == TypeKind::Int ? StdType(Scalar::Double) : r.type, -1, pos);
    family = 1;
  } else if ((lk == TypeKind::Char && rk == TypeKind::Char) ||
             (lk == TypeKind::Bool && rk == TypeKind::Bool)) {
    family = 0;
  } else if ((lk == TypeKind::Str || lk == TypeKind::Char) &&
             (rk == TypeKind::Str || rk == TypeKind::Char)) {
    a = Coerce(l, StdType(Scalar::Str), -1, pos);
    b = Coerce(r, StdType(Scalar::Str), -1, pos);
    family = 2;
  }
  if (family < 0)
    Fail(pos, "Incompatible types: " + Quote(TypeName(l.type)) + " and " + Quote(TypeName(r.type)));
  int which = 0;
  switch (op) {
    case Tok::Equal:
      which = 0;
      break;
    case Tok::NotEqual:
      which = 1;
      break;
    case Tok::Less:
      which = 2;
      break;
    case Tok::LessEqual:
      which = 3;
      break;
    case Tok::Greater:
      which = 4;
      break;
    default:
      which = 5;
      break;
  }
  static constexpr Op kOps[4][6] = {
      {Op::EqI, Op::NeI, Op::LtI, Op::LeI, Op::GtI, Op::GeI},
      {Op::EqF, Op::NeF, Op::LtF, Op::LeF, Op::GtF, Op::GeF},
      {Op::EqS, Op::NeS, Op::LtS, Op::LeS, Op::GtS, Op::GeS},
      {Op::EqV, Op::NeV, Op::LtV, Op::LeV, Op::GtV, Op::GeV},
  };
  const int dst = Target(want);
  Emit(kOps[family][which], dst, a, b);
  return {dst, StdType(Scalar::Bool)};
}

ExprResult Compiler::CompileCompare(const Expr& e, int want) {
  ExprResult l = Pin(CompileExpr(*e.args[0]), *e.args[1]);
  ExprResult r = CompileExpr(*e.args[1]);
  return CompareRegs(e.op, l, r, want, e.pos);
}

ExprResult Compiler::CompileIn(const Expr& e, int want) {
  const Expr& set = *e.args[1];
  if (set.kind != ExprKind::SetLit) Fail(set.pos, "Set literal [...] expected after 'in'");
  ExprResult key = CompileExpr(*e.args[0]);
  if (key.type->kind == TypeKind::Variant)
    key = {Coerce(key, StdType(Scalar::IntAny), -1, e.pos), StdType(Scalar::IntAny)};
  if (!key.type->IsOrdinal())
    Fail(e.args[0]->pos, "Ordinal value expected before 'in', not " + Quote(TypeName(key.type)));
  key = Pin(key, set);
  const int dst = Temp();
  std::vector<int> hits;
  const auto element = [&](const Expr& item) -> ExprResult {
    ExprResult v = CompileExpr(item);
    if (v.type->kind != key.type->kind)
      Fail(item.pos,
           "Incompatible types: " + Quote(TypeName(key.type)) + " and " + Quote(TypeName(v.type)));
    return v;
  };
  for (const ExprPtr& item : set.args) {
    const int mark = m_st.nextReg;
    if (item->kind == ExprKind::Binary && item->op == Tok::DotDot) {
      CompareRegs(Tok::GreaterEqual, key, element(*item->args[0]), dst, item->pos);
      const int miss = EmitJump(Op::JF, dst);
      CompareRegs(Tok::LessEqual, key, element(*item->args[1]), dst, item->pos);
      hits.push_back(EmitJump(Op::JT, dst));
      PatchHere(miss);
    } else {
      CompareRegs(Tok::Equal, key, element(*item), dst, item->pos);
      hits.push_back(EmitJump(Op::JT, dst));
    }
    m_st.nextReg = mark;
  }
  Emit(Op::LoadBool, dst, 0);
  const int done = EmitJump(Op::Jmp);
  PatchAll(hits, Here());
  Emit(Op::LoadBool, dst, 1);
  PatchHere(done);
  return {ToReg({dst, StdType(Scalar::Bool)}, want), StdType(Scalar::Bool)};
}

ExprResult Compiler::CompileIndex(const Expr& e, int want) {
  ExprResult base = CompileExpr(*e.base);
  for (size_t k = 0; k < e.args.size(); ++k) {
    const bool last = k + 1 == e.args.size();
    const Type* t = base.type;
    if (t->kind == TypeKind::Str) {
      const int index = ExprTo(*e.args[k], StdType(Scalar::IntAny));
      const int dst = last ? Target(want) : Temp();
      Emit(Op::StrIdx, dst, base.reg, index);
      base = {dst, StdType(Scalar::Char)};
      continue;
    }
    if (t->kind != TypeKind::Array)
      Fail(e.pos, "Array or string expected before '[', not " + Quote(TypeName(t)));
    ExprResult index = CompileExpr(*e.args[k]);
    if (!index.type->IsOrdinal() && index.type->kind != TypeKind::Variant)
      Fail(e.args[k]->pos, "Ordinal index expected, not " + Quote(TypeName(index.type)));
    if (index.type->kind == TypeKind::Variant)
      index = {Coerce(index, StdType(Scalar::IntAny), -1, e.pos), StdType(Scalar::IntAny)};
    int low = int(t->low);
    int reg = index.reg;
    if (low < -128 || low > 127) {
      reg = Temp();
      if (-low >= -32768 && -low <= 32767) {
        Emit(Op::AddIK, reg, index.reg, uint16_t(int16_t(-low)));
      } else {
        ConstVal c;
        c.type = StdType(Scalar::IntAny);
        c.i = low;
        const int k2 = LoadConst(c, -1);
        Emit(Op::SubI, reg, index.reg, k2);
      }
      low = 0;
    }
    const int dst = last ? Target(want) : Temp();
    Emit(Op::GetIdx, dst, base.reg, reg, uint8_t(int8_t(low)));
    base = {dst, t->element};
  }
  return base;
}

ExprResult Compiler::CompileField(const Expr& e, int want) {
  if (e.base->kind == ExprKind::Name) {
    if (const Symbol* s = Lookup(e.base->text); s && s->kind == SymKind::ExcVar) {
      if (e.text != "message") Fail(e.pos, "Only the Message of an exception can be read");
      const int dst = Target(want);
      BuiltinCall("exceptionparam", dst, {});
      return {dst, StdType(Scalar::Str)};
    }
  }
  ExprResult base = CompileExpr(*e.base);
  if (base.type->kind != TypeKind::Record)
    Fail(e.pos, "Record expected before '.', not " + Quote(TypeName(base.type)));
  for (size_t k = 0; k < base.type->fields.size(); ++k) {
    if (base.type->fields[k].name != e.text) continue;
    const int dst = Target(want);
    Emit(Op::GetFld, dst, base.reg, int(k));
    return {dst, base.type->fields[k].type};
  }
  Fail(e.pos, "Record has no field " + Quote(e.display));
}

int Compiler::BuiltinCall(const char* name, int dst, std::initializer_list<int> args) {
  const BuiltinInfo* b = FindBuiltin(name);
  const int base = m_st.nextReg;
  for (int a : args) Emit(Op::Move, Temp(), a);
  Emit(Op::CallB, dst, BuiltinIndex(b), base, int(args.size()));
  m_st.nextReg = base;
  return dst;
}

// ---------------------------------------------------------------- globals in registers
//
// A routine keeps the scalar globals its body names in registers of its own, so a loop
// over globals runs the same instructions as one over locals. The registers are loaded on
// entry (LoadGlobals) and saved on return, around every call of a routine (which may use
// the globals) and, by the VM, when an error leaves the routine. Built-ins never see the
// globals but through their arguments, so their calls need no saving.

namespace {

void CollectNames(const Expr* e, std::vector<const std::string*>& out) {
  if (!e) return;
  if (e->kind == ExprKind::Name) out.push_back(&e->text);
  CollectNames(e->base.get(), out);
  for (const ExprPtr& a : e->args) CollectNames(a.get(), out);
}

void CollectNames(const Stmt* s, std::vector<const std::string*>& out) {
  if (!s) return;
  CollectNames(s->target.get(), out);
  CollectNames(s->expr.get(), out);
  CollectNames(s->limit.get(), out);
  for (const StmtPtr& b : s->body) CollectNames(b.get(), out);
  for (const StmtPtr& b : s->other) CollectNames(b.get(), out);
  for (const CaseBranch& b : s->branches) {
    for (const ExprPtr& l : b.labels) CollectNames(l.get(), out);
    CollectNames(b.body.get(), out);
  }
  for (const ExceptHandler& h : s->handlers) CollectNames(h.body.get(), out);
  for (const ExprPtr& w : s->withs) CollectNames(w.get(), out);
}

bool Promotable(const Type* t) {
  // Not texts: an in-place append needs the only reference, and the global holds another.
  return t->kind == TypeKind::Int || t->kind == TypeKind::Real || t->kind == TypeKind::Bool ||
         t->kind == TypeKind::Char || t->kind == TypeKind::Variant;
}

}  // namespace

// Called with a fresh scope on top, before the body: the promoted globals are declared
// there, so the body's locals, with-fields and exception names still hide them.
void Compiler::PromoteGlobals(const Stmt& body) {
  if (m_st.noPromotion) return;
  std::vector<const std::string*> names;
  CollectNames(&body, names);
  Scope& scope = m_scopes.back();
  for (const std::string* name : names) {
    if (m_st.promotedRegs.size() >= kMaxPromoted) break;
    if (scope.names.count(*name)) continue;
    const Symbol* s = Lookup(*name);
    if (!s || s->kind != SymKind::Global || !Promotable(s->type)) continue;
    Symbol held = *s;
    held.promotedReg = Temp();
    m_st.promotedRegs.push_back(held.promotedReg);
    Fn().promoted.push_back({uint16_t(held.promotedReg), uint32_t(s->index)});
    scope.names.emplace(*name, std::move(held));
  }
  if (!m_st.promotedRegs.empty()) Emit(Op::LoadGlobals);
}

bool Compiler::IsPromoted(int reg) const {
  for (int r : m_st.promotedRegs)
    if (r == reg) return true;
  return false;
}

bool Compiler::MayCallRoutine(const Expr& e) {
  if (e.kind == ExprKind::Name || (e.kind == ExprKind::Call && e.base->kind == ExprKind::Name)) {
    const std::string& name = e.kind == ExprKind::Name ? e.text : e.base->text;
    if (const Symbol* s = Lookup(name); s && s->kind == SymKind::Routine) return true;
  }
  if (e.base && MayCallRoutine(*e.base)) return true;
  for (const ExprPtr& a : e.args)
    if (MayCallRoutine(*a)) return true;
  return false;
}

// The value of a global's register as it is now, when an operand evaluated later may call a
// routine that changes the global (and the register with it).
ExprResult Compiler::Pin(ExprResult l, const Expr& later) {
  if (!IsPromoted(l.reg) || !MayCallRoutine(later)) return l;
  const int copy = Temp();
  Emit(Op::Move, copy, l.reg);
  return {copy, l.type};
}

// ---------------------------------------------------------------- lvalues

LValue Compiler::CompileLValue(const Expr& e) {
  LValue lv;
  if (e.kind == ExprKind::Name) {
    Symbol* s = Lookup(e.text);
    if (!s) Fail(e.pos, "Unknown identifier " + Quote(e.display));
    lv.type = s->type;
    lv.readOnly = s->readOnly;
    lv.display = e.display;
    switch (s->kind) {
      case SymKind::Local:
        if (s->level == m_level) {
          lv.kind = s->isRef ? LValue::Kind::Ref : LValue::Kind::Reg;
          lv.reg = s->index;
        } else if (s->isRef) {
          lv.kind = LValue::Kind::Ref;
          lv.reg = Temp();
          Emit(Op::GetUp, lv.reg, s->index, 0, m_level - s->level);
        } else {
          lv.kind = LValue::Kind::Up;
          lv.index = s->index;
          lv.hops = m_level - s->level;
        }
        return lv;
      case SymKind::Global:
        if (s->promotedReg >= 0) {
          lv.kind = LValue::Kind::Reg;
          lv.reg = s->promotedReg;
          lv.promotedGlobal = s->index;
          return lv;
        }
        lv.kind = LValue::Kind::Global;
        lv.index = s->index;
        return lv;
      case SymKind::WithField:
        lv.kind = LValue::Kind::Fld;
        lv.reg = s->index;
        lv.slot = s->slot;
        return lv;
      case SymKind::Routine:
        if (s->index == m_st.routineIndex && m_st.fn->resultReg >= 0) {
          lv.kind = LValue::Kind::Reg;
          lv.reg = m_st.fn->resultReg;
          lv.type = m_st.fn->resultType;
          return lv;
        }
        Fail(e.pos, "Cannot assign to " + Quote(e.display) + " here");
      case SymKind::Const:
        Fail(e.pos, "Cannot assign to the constant " + Quote(e.display));
      default:
        Fail(e.pos, "Cannot assign to " + Quote(e.display));
    }
  }
  if (e.kind == ExprKind::Index) {
    // All but the last index select a sub-aggregate or a text that is then indexed.
    const Expr* baseExpr = e.base.get();
    const Type* baseType = nullptr;
    int baseReg = -1;
    std::unique_ptr<LValue> textLv;
    for (size_t k = 0; k < e.args.size(); ++k) {
      const bool last = k + 1 == e.args.size();
      if (baseReg < 0) {
        // Peek at the type of the base without loading it twice.
        if (baseExpr->kind == ExprKind::Name || baseExpr->kind == ExprKind::Index ||
            baseExpr->kind == ExprKind::Field) {
          LValue inner = CompileLValue(*baseExpr);
          if (inner.type->kind == TypeKind::Str && last) {
            lv.kind = LValue::Kind::StrChar;
            lv.type = StdType(Scalar::Char);
            lv.index = ExprTo(*e.args[k], StdType(Scalar::IntAny));
            lv.readOnly = inner.readOnly;
            lv.text = std::make_unique<LValue>(std::move(inner));
            return lv;
          }
          lv.readOnly = inner.readOnly;
          baseType = inner.type;
          baseReg = Load(inner, -1);
        } else {
          Fail(e.pos, "Left side cannot be assigned to");
        }
      }
      if (baseType->kind != TypeKind::Array)
        Fail(e.pos, "Array expected before '[', not " + Quote(TypeName(baseType)));
      ExprResult index = CompileExpr(*e.args[k]);
      if (index.type->kind == TypeKind::Variant)
        index = {Coerce(index, StdType(Scalar::IntAny), -1, e.pos), StdType(Scalar::IntAny)};
      if (!index.type->IsOrdinal())
        Fail(e.args[k]->pos, "Ordinal index expected, not " + Quote(TypeName(index.type)));
      int low = int(baseType->low);
      int reg = index.reg;
      if (low < -128 || low > 127) {
        reg = Temp();
        ConstVal c;
        c.type = StdType(Scalar::IntAny);
        c.i = low;
        Emit(Op::SubI, reg, index.reg, LoadConst(c, -1));
        low = 0;
      }
      if (last) {
        lv.kind = LValue::Kind::Idx;
        lv.type = baseType->element;
        lv.reg = baseReg;
        lv.index = reg;
        lv.low = low;
        return lv;
      }
      const int next = Temp();
      Emit(Op::GetIdx, next, baseReg, reg, uint8_t(int8_t(low)));
      baseReg = next;
      baseType = baseType->element;
      if (baseType->kind == TypeKind::Str) Fail(e.pos, "Use s[i] to change a character");
    }
  }
  if (e.kind == ExprKind::Field) {
    LValue inner = CompileLValue(*e.base);
    if (inner.type->kind != TypeKind::Record)
      Fail(e.pos, "Record expected before '.', not " + Quote(TypeName(inner.type)));
    const int agg = Load(inner, -1);
    for (size_t k = 0; k < inner.type->fields.size(); ++k) {
      if (inner.type->fields[k].name != e.text) continue;
      lv.kind = LValue::Kind::Fld;
      lv.type = inner.type->fields[k].type;
      lv.reg = agg;
      lv.slot = int(k);
      lv.readOnly = inner.readOnly;
      return lv;
    }
    Fail(e.pos, "Record has no field " + Quote(e.display));
  }
  Fail(e.pos, "Left side cannot be assigned to");
}

int Compiler::Load(const LValue& lv, int want) {
  switch (lv.kind) {
    case LValue::Kind::Reg:
      return ToReg({lv.reg, lv.type}, want);
    case LValue::Kind::Global: {
      const int dst = Target(want);
      EmitBC(Op::GetGlobal, dst, lv.index);
      return dst;
    }
    case LValue::Kind::Up: {
      const int dst = Target(want);
      Emit(Op::GetUp, dst, lv.index, 0, lv.hops);
      return dst;
    }
    case LValue::Kind::Ref: {
      const int dst = Target(want);
      Emit(Op::LoadRef, dst, lv.reg);
      return dst;
    }
    case LValue::Kind::Idx: {
      const int dst = Target(want);
      Emit(Op::GetIdx, dst, lv.reg, lv.index, uint8_t(int8_t(lv.low)));
      return dst;
    }
    case LValue::Kind::Fld: {
      const int dst = Target(want);
      Emit(Op::GetFld, dst, lv.reg, lv.slot);
      return dst;
    }
    case LValue::Kind::StrChar: {
      const int text = Load(*lv.text, -1);
      const int dst = Target(want);
      Emit(Op::StrIdx, dst, text, lv.index);
      return dst;
    }
  }
  return want;
}

void Compiler::Store(const LValue& lv, int src) {
  switch (lv.kind) {
    case LValue::Kind::Reg:
      if (src != lv.reg) Emit(Op::Move, lv.reg, src);
      return;
    case LValue::Kind::Global:
      EmitBC(Op::SetGlobal, src, lv.index);
      return;
    case LValue::Kind::Up:
      Emit(Op::SetUp, src, lv.index, 0, lv.hops);
      return;
    case LValue::Kind::Ref:
      Emit(Op::StoreRef, lv.reg, src);
      return;
    case LValue::Kind::Idx:
      Emit(Op::SetIdx, lv.reg, lv.index, src, uint8_t(int8_t(lv.low)));
      return;
    case LValue::Kind::Fld:
      Emit(Op::SetFld, lv.reg, lv.slot, src);
      return;
    case LValue::Kind::StrChar:
      if (lv.text->kind == LValue::Kind::Reg) {
        Emit(Op::StrSet, lv.text->reg, lv.index, src);
      } else {
        const int text = Load(*lv.text, Temp());
        Emit(Op::StrSet, text, lv.index, src);
        Store(*lv.text, text);
      }
      return;
  }
}

bool SameType(const Type* a, const Type* b) {
  if (a == b) return true;
  if (a->kind != b->kind) return false;
  if (a->kind == TypeKind::Int || a->kind == TypeKind::Real) return a->scalar == b->scalar;
  return !a->IsAggregate();
}

int Compiler::RefTo(const Expr& e, const Type* paramType, int dst, Pos pos) {
  if (e.kind != ExprKind::Name && e.kind != ExprKind::Index && e.kind != ExprKind::Field)
    Fail(e.pos, "Variable expected for a var parameter");
  LValue lv = CompileLValue(e);
  if (!SameType(lv.type, paramType))
    Fail(e.pos, "Types of actual and formal var parameters must be identical: " +
                    Quote(TypeName(lv.type)) + " and " + Quote(TypeName(paramType)));
  if (lv.readOnly) Fail(e.pos, "Cannot pass a read-only variable as a var parameter");
  (void)pos;
  switch (lv.kind) {
    case LValue::Kind::Reg:
      // A global held in a register is passed as itself: the call saves the registers into
      // the globals before and loads them after.
      if (lv.promotedGlobal >= 0)
        EmitBC(Op::RefGlobal, dst, lv.promotedGlobal);
      else
        Emit(Op::RefReg, dst, lv.reg);
      break;
    case LValue::Kind::Global:
      EmitBC(Op::RefGlobal, dst, lv.index);
      break;
    case LValue::Kind::Up:
      Emit(Op::RefUp, dst, lv.index, 0, lv.hops);
      break;
    case LValue::Kind::Ref:
      Emit(Op::Move, dst, lv.reg);
      break;
    case LValue::Kind::Idx:
      Emit(Op::RefIdx, dst, lv.reg, lv.index, uint8_t(int8_t(lv.low)));
      break;
    case LValue::Kind::Fld:
      Emit(Op::RefFld, dst, lv.reg, lv.slot);
      break;
    case LValue::Kind::StrChar:
      Fail(e.pos, "A character of a string cannot be passed as a var parameter");
  }
  return dst;
}

}  // namespace velkor::compiler

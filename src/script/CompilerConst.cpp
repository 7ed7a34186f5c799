// Constant evaluation: constant expressions folded at compile time, and loading a
// constant into a register.

#include <cmath>
#include <limits>

#include "script/CompilerImpl.h"

namespace velkor::compiler {

// ---------------------------------------------------------------- constants

std::optional<ConstVal> Compiler::ConstEval(const Expr& e) {
  ConstVal c;
  switch (e.kind) {
    case ExprKind::Int:
      c.type = StdType(Scalar::IntAny);
      c.i = e.integer;
      return c;
    case ExprKind::Real:
      c.type = StdType(Scalar::Double);
      c.d = e.real;
      return c;
    case ExprKind::Text:
      if (e.text.size() == 1) {
        c.type = StdType(Scalar::Char);
        c.i = static_cast<unsigned char>(e.text[0]);
      } else {
        c.type = StdType(Scalar::Str);
      }
      c.s = e.text;
      return c;
    case ExprKind::Name: {
      if (const Symbol* s = Lookup(e.text)) {
        if (s->kind == SymKind::Const) return s->value;
        return std::nullopt;
      }
      if (const BuiltinConst* b = FindBuiltinConst(e.text)) {
        switch (b->kind) {
          case 'i':
            c.type = StdType(Scalar::IntAny);
            c.i = b->integer;
            return c;
          case 'b':
            c.type = StdType(Scalar::Bool);
            c.i = b->integer;
            return c;
          case 'n':
            c.type = StdType(Scalar::Variant);
            c.null = true;
            return c;
          case 'e':
            c.type = StdType(Scalar::Variant);
            c.empty = true;
            return c;
          case 'p':
            c.type = NilType();
            return c;
          default:
            return std::nullopt;
        }
      }
      return std::nullopt;
    }
    case ExprKind::Unary: {
      auto v = ConstEval(*e.args[0]);
      if (!v) return std::nullopt;
      if (e.op == Tok::Minus && v->type->kind == TypeKind::Int && v->i != INT64_MIN) {
        v->i = -v->i;
        v->type = StdType(Scalar::IntAny);
        return v;
      }
      if (e.op == Tok::Minus && v->type->kind == TypeKind::Real) {
        v->d = -v->d;
        return v;
      }
      if (e.op == Tok::Plus && v->type->IsNumeric()) return v;
      if (e.op == Tok::KwNot && v->type->kind == TypeKind::Bool) {
        v->i = !v->i;
        return v;
      }
      if (e.op == Tok::KwNot && v->type->kind == TypeKind::Int) {
        v->i = ~v->i;
        v->type = StdType(Scalar::IntAny);
        return v;
      }
      return std::nullopt;
    }
    case ExprKind::Binary: {
      if (e.op == Tok::DotDot || e.op == Tok::KwIn || e.op == Tok::KwIs) return std::nullopt;
      auto l = ConstEval(*e.args[0]);
      if (!l) return std::nullopt;
      auto r = ConstEval(*e.args[1]);
      if (!r) return std::nullopt;
      const TypeKind lk = l->type->kind, rk = r->type->kind;
      if (lk == TypeKind::Int && rk == TypeKind::Int) {
        int64_t v = 0;
        c.type = StdType(Scalar::IntAny);
        switch (e.op) {
          case Tok::Plus:
            if (__builtin_add_overflow(l->i, r->i, &v)) return std::nullopt;
            break;
          case Tok::Minus:
            if (__builtin_sub_overflow(l->i, r->i, &v)) return std::nullopt;
            break;
          case Tok::Star:
            if (__builtin_mul_overflow(l->i, r->i, &v)) return std::nullopt;
            break;
          case Tok::KwDiv:
            if (r->i == 0 || (l->i == INT64_MIN && r->i == -1)) return std::nullopt;
            v = l->i / r->i;
            break;
          case Tok::KwMod:
            if (r->i == 0 || r->i == -1) return std::nullopt;
            v = l->i % r->i;
            break;
          case Tok::KwAnd:
            v = l->i & r->i;
            break;
          case Tok::KwOr:
            v = l->i | r->i;
            break;
          case Tok::KwXor:
            v = l->i ^ r->i;
            break;
          case Tok::KwShl:
            if (r->i < 0 || r->i > 63) return std::nullopt;
            v = int64_t(uint64_t(l->i) << r->i);
            break;
          case Tok::KwShr:
            if (r->i < 0 || r->i > 63) return std::nullopt;
            v = int64_t(uint64_t(l->i) >> r->i);
            break;
          default:
            return std::nullopt;  // comparisons compile at run time: rare in constants
        }
        c.i = v;
        return c;
      }
      if (l->type->IsNumeric() && r->type->IsNumeric()) {
        const double x = lk == TypeKind::Int ? double(l->i) : l->d;
        const double y = rk == TypeKind::Int ? double(r->i) : r->d;
        c.type = StdType(Scalar::Double);
        switch (e.op) {
          case Tok::Plus:
            c.d = x + y;
            return c;
          case Tok::Minus:
            c.d = x - y;
            return c;
          case Tok::Star:
            c.d = x * y;
            return c;
          case Tok::Slash:
            if (y == 0.0) return std::nullopt;
            c.d = x / y;
            return c;
          default:
            return std::nullopt;
        }
      }
      const bool lt = lk == TypeKind::Str || lk == TypeKind::Char;
      const bool rt = rk == TypeKind::Str || rk == TypeKind::Char;
      if (lt && rt && e.op == Tok::Plus && l->s.size() + r->s.size() < 65536) {
        c.type = StdType(Scalar::Str);
        c.s = l->s + r->s;
        return c;
      }
      if (lk == TypeKind::Bool && rk == TypeKind::Bool &&
          (e.op == Tok::KwAnd || e.op == Tok::KwOr || e.op == Tok::KwXor)) {
        c.type = StdType(Scalar::Bool);
        c.i = e.op == Tok::KwAnd  ? (l->i && r->i)
              : e.op == Tok::KwOr ? (l->i || r->i)
                                  : (l->i != r->i);
        return c;
      }
      return std::nullopt;
    }
    case ExprKind::Call: {
      if (e.base->kind != ExprKind::Name || e.args.size() != 1 || Lookup(e.base->text))
        return std::nullopt;
      auto v = ConstEval(*e.args[0]);
      if (!v) return std::nullopt;
      if (e.base->text == "chr" && v->type->kind == TypeKind::Int && v->i >= 0 && v->i < 256) {
        c.type = StdType(Scalar::Char);
        c.i = v->i;
        c.s = std::string(1, char(v->i));
        return c;
      }
      if (e.base->text == "ord" && v->type->IsOrdinal()) {
        c.type = StdType(Scalar::IntAny);
        c.i = v->i;
        return c;
      }
      return std::nullopt;
    }
    default:
      return std::nullopt;
  }
}

ConstVal Compiler::RequireConst(const Expr& e, const char* what) {
  auto c = ConstEval(e);
  if (!c) Fail(e.pos, std::string("Constant expression expected as ") + what);
  return *c;
}

int64_t Compiler::RequireInt(const Expr& e, const char* what) {
  const ConstVal c = RequireConst(e, what);
  if (!c.type->IsOrdinal()) Fail(e.pos, std::string("Ordinal constant expected as ") + what);
  return c.i;
}

int Compiler::LoadConst(const ConstVal& c, int want) {
  const int r = Target(want);
  Value v{};
  switch (c.type->kind) {
    case TypeKind::Int:
      if (c.i >= INT32_MIN && c.i <= INT32_MAX) {
        EmitBC(Op::LoadInt, r, int32_t(c.i));
      } else {
        v.tag = Tag::Int64;
        v.i = c.i;
        EmitBC(Op::LoadK, r, AddConst(v));
      }
      break;
    case TypeKind::Real:
      v.tag = Tag::Double;
      v.d = c.d;
      EmitBC(Op::LoadK, r, AddConst(v));
      break;
    case TypeKind::Bool:
      Emit(Op::LoadBool, r, c.i ? 1 : 0);
      break;
    case TypeKind::Char:
      Emit(Op::LoadChar, r, int(c.i));
      break;
    case TypeKind::Str:
      if (c.s.empty()) {
        Emit(Op::LoadStr0, r);
      } else {
        v.tag = Tag::String;
        v.s = NewStr(c.s);
        EmitBC(Op::LoadK, r, AddConst(v));
      }
      break;
    case TypeKind::Variant:
      Emit(c.null ? Op::LoadNull : Op::LoadEmpty, r);
      break;
    default:
      Emit(Op::LoadNull, r);
      break;
  }
  return r;
}

}  // namespace velkor::compiler

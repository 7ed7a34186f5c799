// The Variant family of instructions: boxing and unboxing, arithmetic, comparison. Values
// go through the model's Variant so that a script's variants follow the same conversion
// and overflow rules as the tags; the model's failures are reworded as the script's errors.

#include "script/VariantOps.h"

#include <cstdint>

#include "script/Builtins.h"
#include "script/Vm.h"

namespace velkor {
namespace {

// A variant operand as a model Variant; the conversions reuse the model's rules.
Variant V(const Value& v) { return ToVariant(v); }

bool IsIntTag(Tag t) {
  return t == Tag::ShortInt || t == Tag::Integer || t == Tag::Word || t == Tag::DWord ||
         t == Tag::Int64;
}

bool IsSmall(const Value& v) { return v.tag == Tag::Integer || v.tag == Tag::ShortInt; }

int64_t VarInt(const Value& v) {
  if (IsIntTag(v.tag)) return v.i;
  if (v.tag == Tag::Bool) return v.i ? -1 : 0;
  return V(v).ToInt64();
}

void SetVarInt(Value& dst, int64_t r) {
  SetTaggedInt(dst, r >= INT32_MIN && r <= INT32_MAX ? Tag::Integer : Tag::Int64, r);
}

int64_t CheckedRange(int64_t v, Scalar s) {
  const IntRange r = RangeOf(s);
  if (v < r.low || v > r.high) Raise(ErrorKind::Range, RangeText(v, s));
  return v;
}

void UnboxRaw(Value& dst, const Value& src, Scalar s) {
  switch (s) {
    case Scalar::Int8:
    case Scalar::Byte:
    case Scalar::Int16:
    case Scalar::Word:
    case Scalar::Int32:
    case Scalar::UInt32:
    case Scalar::Int64:
    case Scalar::IntAny: {
      const int64_t v = IsIntTag(src.tag) ? src.i : V(src).ToInt64();
      SetInt(dst, CheckedRange(v, s));
      return;
    }
    case Scalar::Single:
      SetReal(dst, V(src).ConvertTo(VarType::Float).RawReal());
      return;
    case Scalar::Double:
      SetReal(dst, src.tag == Tag::Double ? src.d : V(src).ToDouble());
      return;
    case Scalar::DateTime:
      SetReal(dst, V(src).ConvertTo(VarType::DateTime).RawReal());
      return;
    case Scalar::Bool:
      SetBool(dst, src.tag == Tag::Bool ? src.i != 0 : V(src).ToBool());
      return;
    case Scalar::Char: {
      const std::string text =
          src.tag == Tag::String ? std::string(TextOf(src)) : V(src).ToString();
      if (text.size() != 1) Raise(ErrorKind::Convert, "Could not convert '" + text + "' to Char");
      SetChar(dst, static_cast<unsigned char>(text[0]));
      return;
    }
    case Scalar::Str:
      if (src.tag == Tag::String) {
        Copy(dst, src);
      } else {
        SetStr(dst, std::string_view(V(src).ConvertTo(VarType::String).RawText()));
      }
      return;
    default:
      Copy(dst, src);
      return;
  }
}

std::string Describe(const Value& v) {
  if (v.tag == Tag::Null) return "Null";
  if (v.tag == Tag::Empty) return "Unassigned";
  const std::string text = ToVariant(v).ToString();
  return v.tag == Tag::String || v.tag == Tag::Char ? "'" + text.substr(0, 60) + "'" : text;
}

bool IsZero(const Value& v) {
  if (IsIntTag(v.tag) || v.tag == Tag::Bool) return v.i == 0;
  if (v.tag == Tag::Double || v.tag == Tag::Float || v.tag == Tag::DateTime) return v.d == 0.0;
  if (v.tag == Tag::Empty) return true;
  return false;
}

void VarArithRaw(Op op, Value& dst, const Value& a, const Value& b) {
  if (IsSmall(a) && IsSmall(b)) {
    int64_t r = 0;
    switch (op) {
      case Op::AddV:
        r = a.i + b.i;
        break;
      case Op::SubV:
        r = a.i - b.i;
        break;
      case Op::MulV:
        r = a.i * b.i;
        break;
      default:
        r = INT64_MAX;
        break;
    }
    if (r >= INT32_MIN && r <= INT32_MAX) {
      SetTaggedInt(dst, Tag::Integer, r);
      return;
    }
  }
  Variant r;
  switch (op) {
    case Op::AddV:
      if (a.tag == Tag::String && b.tag == Tag::String) {
        std::string text(TextOf(a));
        text += TextOf(b);
        SetStr(dst, NewStr(std::move(text)));
        return;
      }
      r = V(a) + V(b);
      break;
    case Op::SubV:
      r = V(a) - V(b);
      break;
    case Op::MulV:
      r = V(a) * V(b);
      break;
    case Op::DivV:
      if (IsZero(b) && !a.IsHeap() && a.tag != Tag::Null && b.tag != Tag::Null) DivByZero();
      r = V(a) / V(b);
      break;
    default:
      break;
  }
  FromVariant(dst, r);
}

void VarIntOpRaw(Op op, Value& dst, const Value& a, const Value& b) {
  if (a.tag == Tag::Null || b.tag == Tag::Null) {
    SetNull(dst);
    return;
  }
  const bool bools = a.tag == Tag::Bool && b.tag == Tag::Bool;
  if (bools && (op == Op::AndV || op == Op::OrV || op == Op::XorV)) {
    const bool x = a.i != 0, y = b.i != 0;
    SetBool(dst, op == Op::AndV ? x && y : op == Op::OrV ? x || y : x != y);
    return;
  }
  const int64_t x = VarInt(a), y = VarInt(b);
  int64_t r = 0;
  switch (op) {
    case Op::IDivV:
      if (y == 0) DivByZero();
      if (x == INT64_MIN && y == -1) Overflow();
      r = x / y;
      break;
    case Op::ModV:
      if (y == 0) DivByZero();
      r = y == -1 ? 0 : x % y;
      break;
    case Op::AndV:
      r = x & y;
      break;
    case Op::OrV:
      r = x | y;
      break;
    case Op::XorV:
      r = x ^ y;
      break;
    case Op::ShlV:
      r = int64_t(uint64_t(x) << (y & 63));
      break;
    case Op::ShrV:
      r = int64_t(uint64_t(x) >> (y & 63));
      break;
    default:
      break;
  }
  SetVarInt(dst, r);
}

// -1, 0, 1; 2 when a Null makes the comparison false.
int VarCompareRaw(const Value& a, const Value& b) {
  if (a.tag == Tag::Null || b.tag == Tag::Null) return 2;
  if (IsIntTag(a.tag) && IsIntTag(b.tag)) return (a.i > b.i) - (a.i < b.i);
  if (a.tag == Tag::String && b.tag == Tag::String) {
    const int c = TextOf(a).compare(TextOf(b));
    return (c > 0) - (c < 0);
  }
  return Variant::Compare(V(a), V(b));
}

[[noreturn]] void VariantOpError(const Value& a, const Value& b) {
  Raise(ErrorKind::Convert, "Invalid variant operation on " + Describe(a) + " and " + Describe(b));
}

}  // namespace

std::string RangeText(int64_t v, Scalar s) {
  const IntRange r = RangeOf(s);
  const Type* t = StdType(s);
  return "Range check error: " + std::to_string(v) + " is outside " + t->name + " (" +
         std::to_string(r.low) + ".." + std::to_string(r.high) + ")";
}

[[noreturn]] void Overflow() { Raise(ErrorKind::Overflow, "Integer overflow"); }
[[noreturn]] void DivByZero() { Raise(ErrorKind::DivByZero, "Division by zero"); }

void Box(Value& dst, const Value& src, Scalar s) {
  switch (s) {
    case Scalar::IntAny:
      SetTaggedInt(dst, src.i >= INT32_MIN && src.i <= INT32_MAX ? Tag::Integer : Tag::Int64,
                   src.i);
      return;
    case Scalar::Int8:
    case Scalar::Byte:
    case Scalar::Int16:
    case Scalar::Word:
    case Scalar::Int32:
    case Scalar::UInt32:
    case Scalar::Int64:
    case Scalar::Bool:
      SetTaggedInt(dst, BoxTag(s), src.i);
      return;
    case Scalar::Single:
    case Scalar::Double:
    case Scalar::DateTime:
      SetTaggedReal(dst, BoxTag(s), src.d);
      return;
    case Scalar::Char:
      SetStr(dst, std::string_view(std::string(1, char(src.i))));
      return;
    default:
      Copy(dst, src);
      return;
  }
}

// The model's conversion failures, reworded in the interpreter's terms.
void Unbox(Value& dst, const Value& src, Scalar s) {
  try {
    UnboxRaw(dst, src, s);
  } catch (const ConversionError&) {
    Raise(ErrorKind::Convert,
          "Could not convert variant " + Describe(src) + " to " + StdType(s)->name);
  } catch (const OverflowError&) {
    Raise(ErrorKind::Overflow,
          "Variant " + Describe(src) + " is out of the range of " + StdType(s)->name);
  }
}

void VarArith(Op op, Value& dst, const Value& a, const Value& b) {
  try {
    VarArithRaw(op, dst, a, b);
  } catch (const ConversionError&) {
    VariantOpError(a, b);
  }
}

void VarIntOp(Op op, Value& dst, const Value& a, const Value& b) {
  try {
    VarIntOpRaw(op, dst, a, b);
  } catch (const ConversionError&) {
    VariantOpError(a, b);
  } catch (const OverflowError&) {
    Raise(ErrorKind::Overflow, "Integer overflow in a variant operation");
  }
}

int VarCompare(const Value& a, const Value& b) {
  try {
    return VarCompareRaw(a, b);
  } catch (const ConversionError&) {
    Raise(ErrorKind::Convert, "Cannot compare " + Describe(a) + " with " + Describe(b));
  }
}

void VarNeg(Value& dst, const Value& v) {
  if (IsSmall(v) && v.i != INT32_MIN)
    SetTaggedInt(dst, v.tag, -v.i);
  else
    FromVariant(dst, -V(v));
}

void VarNot(Value& dst, const Value& v) {
  if (v.tag == Tag::Bool)
    SetBool(dst, v.i == 0);
  else if (v.tag == Tag::Null)
    SetNull(dst);
  else
    SetVarInt(dst, ~VarInt(v));
}

}  // namespace velkor

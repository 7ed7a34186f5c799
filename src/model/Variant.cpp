// Every conversion first reads its source as a Number: an exact int64 for the integer
// kinds, Bool (-1/0) and Empty (0), a double for reals and dates, the parsed value for a
// text. Rounding and range checks then act on that single form, so ConvertTo, the To...
// accessors, arithmetic and comparison cannot disagree about what a value is. The text
// forms are those of model/TextUtil.h and model/OleDate.h.

#include "model/Variant.h"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <limits>

namespace velkor {
namespace {

bool FitsInt32(int64_t v) {
  return v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max();
}

[[noreturn]] void ThrowConversion(const Variant& v, VarType target) {
  const std::string what = v.IsNull() ? "Null" : "'" + v.ToString() + "'";
  throw ConversionError("Невозможно преобразовать " + what + " в тип " + VarTypeName(target));
}

[[noreturn]] void ThrowOverflow(const std::string& valueText, VarType target) {
  throw OverflowError("Переполнение: значение " + valueText + " вне диапазона типа " +
                      VarTypeName(target));
}

struct Number {
  bool isInteger;
  int64_t integer;  // only when isInteger
  double real;      // always, the integer widened when isInteger
};

Number NumberOf(const Variant& v, VarType target) {
  switch (v.Type()) {
    case VarType::Empty:
      return {true, 0, 0.0};
    case VarType::Bool:
      return {true, v.RawInt() ? -1 : 0, v.RawInt() ? -1.0 : 0.0};
    case VarType::ShortInt:
    case VarType::Integer:
    case VarType::Word:
    case VarType::DWord:
    case VarType::Int64:
      return {true, v.RawInt(), double(v.RawInt())};
    case VarType::Float:
    case VarType::Double:
    case VarType::DateTime:
      return {false, 0, v.RawReal()};
    case VarType::String: {
      Number n{};
      if (ParseNumber(v.RawText(), n.integer, n.real, n.isInteger)) return n;
      break;
    }
    case VarType::Null:
      break;
  }
  ThrowConversion(v, target);
}

double RealOf(const Variant& v, VarType target) {
  double date;
  if (target == VarType::DateTime && v.IsString() && ParseDateTime(v.RawText(), date)) return date;
  return NumberOf(v, target).real;
}

// Independent of the floating-point environment's rounding mode.
double RoundHalfEven(double x) {
  const double down = std::floor(x);
  const double fraction = x - down;
  return fraction > 0.5 || (fraction == 0.5 && std::fmod(down, 2.0) != 0.0) ? down + 1.0 : down;
}

int64_t IntegerOf(const Variant& v, VarType target) {
  int64_t lo = std::numeric_limits<int64_t>::min(), hi = std::numeric_limits<int64_t>::max();
  switch (target) {
    case VarType::ShortInt:
      lo = -32768, hi = 32767;
      break;
    case VarType::Integer:
      lo = std::numeric_limits<int32_t>::min(), hi = std::numeric_limits<int32_t>::max();
      break;
    case VarType::Word:
      lo = 0, hi = 65535;
      break;
    case VarType::DWord:
      lo = 0, hi = std::numeric_limits<uint32_t>::max();
      break;
    default:
      break;
  }
  const Number n = NumberOf(v, target);
  if (n.isInteger) {
    if (n.integer >= lo && n.integer <= hi) return n.integer;
    ThrowOverflow(std::to_string(n.integer), target);
  }
  const double rounded = RoundHalfEven(n.real);
  // hi + 1.0 is exact except for Int64, where hi itself already rounds up to 2^63. NaN and
  // the infinities fail one of the two tests.
  if (rounded >= double(lo) && rounded < double(hi) + 1.0) return int64_t(rounded);
  ThrowOverflow(FormatReal(n.real), target);
}

enum class Op { Add, Sub, Mul, Div };

// The higher rank of two operands decides the kind of the result.
enum class Rank { Small, Wide, Real, Date };

struct Operand {
  Rank rank;
  int64_t integer;
  double real;
};

Operand OperandOf(const Variant& v, bool asReal) {
  const Number n = NumberOf(v, VarType::Double);
  if (!n.isInteger) return {v.Type() == VarType::DateTime ? Rank::Date : Rank::Real, 0, n.real};
  if (asReal) return {Rank::Real, 0, n.real};
  const VarType t = v.Type();
  const bool wide = t == VarType::Word || t == VarType::DWord || t == VarType::Int64;
  return {wide || !FitsInt32(n.integer) ? Rank::Wide : Rank::Small, n.integer, n.real};
}

double RealOp(Op op, double x, double y) {
  return op == Op::Add ? x + y : op == Op::Sub ? x - y : x * y;
}

// False on 64-bit overflow.
bool IntegerOp(Op op, int64_t x, int64_t y, int64_t& result) {
  return op == Op::Add   ? !__builtin_add_overflow(x, y, &result)
         : op == Op::Sub ? !__builtin_sub_overflow(x, y, &result)
                         : !__builtin_mul_overflow(x, y, &result);
}

Variant Arithmetic(Op op, const Variant& a, const Variant& b) {
  if (a.IsNull() || b.IsNull()) return Variant::Null();
  const bool texts = a.IsString() && b.IsString();
  if (texts && op == Op::Add) return Variant(a.RawText() + b.RawText());
  // Two texts or two booleans leave no integer kind to keep, so they meet as reals.
  const bool asReal = texts || (a.Type() == VarType::Bool && b.Type() == VarType::Bool);
  const Operand x = OperandOf(a, asReal), y = OperandOf(b, asReal);
  if (op == Op::Div) {
    if (y.real == 0.0) throw VelkorError("Деление на ноль");
    return Variant(x.real / y.real);
  }
  const Rank rank = std::max(x.rank, y.rank);
  if (rank == Rank::Date) {
    if (x.rank == y.rank && op == Op::Sub) return Variant(x.real - y.real);
    return Variant::OfDateTime(RealOp(op, x.real, y.real));
  }
  int64_t result = 0;
  if (rank == Rank::Real || !IntegerOp(op, x.integer, y.integer, result) ||
      (rank == Rank::Small && !FitsInt32(result)))
    return Variant(RealOp(op, x.real, y.real));
  return rank == Rank::Wide ? Variant(result) : Variant::OfInteger(int32_t(result));
}

}  // namespace

bool IsTagType(uint16_t code) {
  switch (code) {
    case 2:
    case 3:
    case 4:
    case 5:
    case 7:
    case 11:
    case 18:
    case 19:
    case 20:
    case 256:
      return true;
    default:
      return false;
  }
}

const char* VarTypeName(VarType type) {
  switch (type) {
    case VarType::Empty:
      return "Empty";
    case VarType::Null:
      return "Null";
    case VarType::ShortInt:
      return "ShortInt";
    case VarType::Integer:
      return "Integer";
    case VarType::Float:
      return "Float";
    case VarType::Double:
      return "Double";
    case VarType::DateTime:
      return "DateTime";
    case VarType::Bool:
      return "Bool";
    case VarType::Word:
      return "Word";
    case VarType::DWord:
      return "DWord";
    case VarType::Int64:
      return "Int64";
    case VarType::String:
      return "String";
  }
  return "Unknown";
}

Variant Variant::Null() {
  Variant v;
  v.m_type = VarType::Null;
  return v;
}

Variant Variant::OfShortInt(int16_t v) {
  Variant r(int64_t{v});
  r.m_type = VarType::ShortInt;
  return r;
}

Variant Variant::OfInteger(int32_t v) { return Variant(v); }

Variant Variant::OfWord(uint16_t v) {
  Variant r(int64_t{v});
  r.m_type = VarType::Word;
  return r;
}

Variant Variant::OfDWord(uint32_t v) {
  Variant r(int64_t{v});
  r.m_type = VarType::DWord;
  return r;
}

Variant Variant::OfInt64(int64_t v) { return Variant(v); }
Variant Variant::OfDouble(double v) { return Variant(v); }

Variant Variant::OfFloat(float v) {
  Variant r(double{v});
  r.m_type = VarType::Float;
  return r;
}

Variant Variant::OfDateTime(double oleDate) {
  Variant r(oleDate);
  r.m_type = VarType::DateTime;
  return r;
}

bool Variant::IsIntegral() const {
  return m_type == VarType::ShortInt || m_type == VarType::Integer || m_type == VarType::Word ||
         m_type == VarType::DWord || m_type == VarType::Int64;
}

bool Variant::IsReal() const { return m_type == VarType::Float || m_type == VarType::Double; }

Variant Variant::ConvertTo(VarType target) const {
  if (target == m_type) return *this;
  switch (target) {
    case VarType::ShortInt:
    case VarType::Integer:
    case VarType::Word:
    case VarType::DWord:
    case VarType::Int64: {
      Variant r(IntegerOf(*this, target));
      r.m_type = target;
      return r;
    }
    case VarType::Float: {
      const double v = RealOf(*this, target);
      if (std::isfinite(v) && std::fabs(v) > FLT_MAX) ThrowOverflow(FormatReal(v), target);
      return OfFloat(float(v));
    }
    case VarType::Double:
      return OfDouble(RealOf(*this, target));
    case VarType::DateTime:
      return OfDateTime(RealOf(*this, target));
    case VarType::Bool:
      return Variant(ToBool());
    case VarType::String:
      if (IsNull()) break;
      return Variant(ToString());
    case VarType::Empty:  // only Empty and Null themselves become Empty or Null
    case VarType::Null:
      break;
  }
  ThrowConversion(*this, target);
}

int64_t Variant::ToInt64() const { return IntegerOf(*this, VarType::Int64); }
int32_t Variant::ToInt32() const { return int32_t(IntegerOf(*this, VarType::Integer)); }
uint32_t Variant::ToUInt32() const { return uint32_t(IntegerOf(*this, VarType::DWord)); }
double Variant::ToDouble() const { return RealOf(*this, VarType::Double); }

bool Variant::ToBool() const {
  bool word;
  if (m_type == VarType::String && ParseBoolWord(*m_text, word)) return word;
  return NumberOf(*this, VarType::Bool).real != 0.0;
}

std::string Variant::ToString() const {
  switch (m_type) {
    case VarType::Empty:
      return {};
    case VarType::Null:
      return "Null";
    case VarType::Bool:
      return m_int ? "True" : "False";
    case VarType::Float:
    case VarType::Double:
      return FormatReal(m_real);
    case VarType::DateTime:
      return FormatDateTime(m_real);
    case VarType::String:
      return *m_text;
    case VarType::ShortInt:
    case VarType::Integer:
    case VarType::Word:
    case VarType::DWord:
    case VarType::Int64:
      break;
  }
  return std::to_string(m_int);
}

Variant operator+(const Variant& a, const Variant& b) { return Arithmetic(Op::Add, a, b); }
Variant operator-(const Variant& a, const Variant& b) { return Arithmetic(Op::Sub, a, b); }
Variant operator*(const Variant& a, const Variant& b) { return Arithmetic(Op::Mul, a, b); }
Variant operator/(const Variant& a, const Variant& b) { return Arithmetic(Op::Div, a, b); }

Variant Variant::operator-() const {
  // Reals negate directly to keep the sign of zero; everything else is 0 - x, which gives
  // the kinds and the widening of subtraction.
  if (IsReal()) return OfDouble(-m_real);
  return Variant(0) - *this;
}

int Variant::Compare(const Variant& a, const Variant& b) {
  if (a.IsString() && b.IsString()) {
    const int c = a.m_text->compare(*b.m_text);  // char_traits compares bytes as unsigned
    return (c > 0) - (c < 0);
  }
  const Number x = NumberOf(a, VarType::Double), y = NumberOf(b, VarType::Double);
  if (x.isInteger && y.isInteger) return (x.integer > y.integer) - (x.integer < y.integer);
  return (x.real > y.real) - (x.real < y.real);
}

// Reals compare bitwise: a NaN stays the same as itself and -0 differs from 0, which is
// what change detection wants.
bool Variant::SameAs(const Variant& other) const {
  if (m_type != other.m_type) return false;
  switch (m_type) {
    case VarType::Empty:
    case VarType::Null:
      return true;
    case VarType::Float:
    case VarType::Double:
    case VarType::DateTime:
      return std::bit_cast<uint64_t>(m_real) == std::bit_cast<uint64_t>(other.m_real);
    case VarType::String:
      return *m_text == *other.m_text;
    case VarType::ShortInt:
    case VarType::Integer:
    case VarType::Word:
    case VarType::DWord:
    case VarType::Int64:
    case VarType::Bool:
      break;
  }
  return m_int == other.m_int;
}

}  // namespace velkor

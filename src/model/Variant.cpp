// Every conversion first reads its source as a Number: an exact int64 for the integer
// kinds, Bool (-1/0) and Empty (0), a double for reals and dates, the parsed value for a
// text. Rounding and range checks then act on that single form, so ConvertTo, the To...
// accessors, arithmetic and comparison cannot disagree about what a value is. Texts are
// read with std::from_chars and written with std::to_chars, neither of which looks at the
// C locale.

#include "model/Variant.h"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace velkor {
namespace {

constexpr int64_t kMsPerDay = 86400000;

// Howard Hinnant's days-from-civil: days since 1970-01-01 in the proleptic Gregorian calendar.
constexpr int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

constexpr int64_t kOleEpoch = DaysFromCivil(1899, 12, 30);
// Dates outside years 1..9999 cannot be written as dd.MM.yyyy; both bounds are exclusive.
constexpr double kMinOleDate = double(DaysFromCivil(0, 12, 31) - kOleEpoch);
constexpr double kMaxOleDate = double(DaysFromCivil(10000, 1, 1) - kOleEpoch);

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
// Every control character counts as a blank, as the trimming of project-file fields has it.
bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool EqualsNoCase(std::string_view text, std::string_view lowerWord) {
  return std::equal(text.begin(), text.end(), lowerWord.begin(), lowerWord.end(),
                    [](char a, char b) { return (a >= 'A' && a <= 'Z' ? a + 32 : a) == b; });
}

int HexDigitValue(char c) {
  const char lower = char(c | 0x20);
  return IsDigit(c) ? c - '0' : lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

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

// Reads a text field by field; a field of digits is accepted only within its widths.
class FieldReader {
 public:
  explicit FieldReader(std::string_view text) : m_text(text) {}

  bool Digits(size_t minWidth, size_t maxWidth, int& value) {
    size_t width = 0;
    value = 0;
    for (; width < maxWidth && m_pos < m_text.size() && IsDigit(m_text[m_pos]); ++width)
      value = value * 10 + (m_text[m_pos++] - '0');
    return width >= minWidth;
  }
  bool Skip(char c) {
    if (m_pos >= m_text.size() || m_text[m_pos] != c) return false;
    ++m_pos;
    return true;
  }
  bool SkipBlanks() {
    const size_t start = m_pos;
    while (m_pos < m_text.size() && IsBlank(m_text[m_pos])) ++m_pos;
    return m_pos > start;
  }
  bool AtEnd() const { return m_pos == m_text.size(); }

 private:
  std::string_view m_text;
  size_t m_pos = 0;
};

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  return month == 2 && leap ? 29 : kDays[month - 1];
}

bool IsShowableOleDate(double oleDate) { return oleDate > kMinOleDate && oleDate < kMaxOleDate; }

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
  if (m_type == VarType::String) {
    const std::string_view text = Trim(*m_text);
    if (EqualsNoCase(text, "true")) return true;
    if (EqualsNoCase(text, "false")) return false;
  }
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

std::string FormatReal(double value, int digits) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  if (value == 0.0) return "0";
  digits = std::clamp(digits, 1, 17);
  // The scientific form rounds once and carries into the exponent (9.99..9 -> 1.0E+n).
  char buf[32];
  const char* end =
      std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, digits - 1).ptr;
  const std::string_view sci(buf, end - buf);
  const size_t e = sci.find('e');
  std::string mantissa;
  for (char c : sci.substr(0, e))
    if (IsDigit(c)) mantissa += c;
  mantissa.erase(mantissa.find_last_not_of('0') + 1);  // the first digit is never 0
  int exponent = 0;
  std::from_chars(sci.data() + e + (sci[e + 1] == '+' ? 2 : 1), end, exponent);

  std::string out = value < 0 ? "-" : "";
  const int length = int(mantissa.size());
  if (exponent < -5 || exponent >= digits) {
    out += mantissa[0];
    if (length > 1) out.append(".").append(mantissa, 1);
    return out.append("E").append(std::to_string(exponent));
  }
  if (exponent < 0) return out.append("0.").append(-exponent - 1, '0').append(mantissa);
  if (length <= exponent + 1) return out.append(mantissa).append(exponent + 1 - length, '0');
  return out.append(mantissa, 0, exponent + 1).append(".").append(mantissa, exponent + 1);
}

std::string FormatDateTime(double oleDate, bool alwaysTime) {
  if (!IsShowableOleDate(oleDate)) return FormatReal(oleDate);
  const CivilTime t = DecodeOleDate(oleDate);
  char buf[80];
  int n = std::snprintf(buf, sizeof buf, "%02d.%02d.%04d", t.day, t.month, t.year);
  if (alwaysTime || t.hour || t.minute || t.second || t.millisecond)
    std::snprintf(buf + n, sizeof buf - n, " %d:%02d:%02d", t.hour, t.minute, t.second);
  return buf;
}

bool ParseDateTime(std::string_view text, double& oleDate) {
  text = Trim(text);
  FieldReader reader(text);
  int year = 1899, month = 12, day = 30, hour = 0, minute = 0, second = 0, ms = 0;
  // A date comes first when a '.' appears before any ':'; otherwise the text is a time.
  const bool hasDate = text.find('.') < text.find(':');
  if (hasDate && !(reader.Digits(1, 2, day) && reader.Skip('.') && reader.Digits(1, 2, month) &&
                   reader.Skip('.') && reader.Digits(4, 4, year)))
    return false;
  if (!hasDate || reader.SkipBlanks()) {
    if (!(reader.Digits(1, 2, hour) && reader.Skip(':') && reader.Digits(1, 2, minute)))
      return false;
    if (reader.Skip(':') &&
        !(reader.Digits(1, 2, second) && (!reader.Skip('.') || reader.Digits(3, 3, ms))))
      return false;
  }
  if (!reader.AtEnd() || year < 1 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month) || hour > 23 || minute > 59 || second > 59)
    return false;
  oleDate = EncodeOleDate(year, month, day, hour, minute, second, ms);
  return true;
}

bool ParseNumber(std::string_view text, int64_t& integer, double& real, bool& isInteger) {
  text = Trim(text);
  const bool negative = text.starts_with('-');
  const std::string_view body = text.substr(negative || text.starts_with('+') ? 1 : 0);

  size_t hexStart = 0;
  if (body.starts_with('$'))
    hexStart = 1;
  else if (body.starts_with("0x") || body.starts_with("0X"))
    hexStart = 2;
  if (hexStart > 0) {
    // Too many digits for an int64 still make a number: a real, which range checks reject.
    const std::string_view digits = body.substr(hexStart);
    if (digits.empty()) return false;
    uint64_t magnitude = 0;
    double value = 0.0;
    bool fits = true;
    for (char c : digits) {
      const int d = HexDigitValue(c);
      if (d < 0) return false;
      fits = fits && magnitude >> 60 == 0;
      magnitude = magnitude << 4 | uint64_t(d);
      value = value * 16 + d;
    }
    const uint64_t limit = uint64_t(std::numeric_limits<int64_t>::max()) + (negative ? 1 : 0);
    isInteger = fits && magnitude <= limit;
    integer = isInteger ? int64_t(negative ? 0 - magnitude : magnitude) : 0;
    real = negative ? -value : value;
    return true;
  }

  // Validate the whole grammar first: from_chars alone would also take "inf" and "nan".
  const size_t size = body.size();
  size_t pos = 0;
  const auto skipDigits = [&] {
    const size_t start = pos;
    while (pos < size && IsDigit(body[pos])) ++pos;
    return pos - start;
  };
  const size_t intDigits = skipDigits();
  const bool point = pos < size && body[pos] == '.';
  pos += point;
  if (intDigits + (point ? skipDigits() : 0) == 0) return false;
  const size_t mantissaEnd = pos;
  int64_t exponent = 0;
  if (pos < size && (body[pos] == 'e' || body[pos] == 'E')) {
    const bool negativeExponent = ++pos < size && body[pos] == '-';
    if (pos < size && (body[pos] == '-' || body[pos] == '+')) ++pos;
    const size_t start = pos;
    for (; pos < size && IsDigit(body[pos]); ++pos)
      exponent = std::min<int64_t>(exponent * 10 + (body[pos] - '0'), 1'000'000'000);
    if (pos == start) return false;
    if (negativeExponent) exponent = -exponent;
  }
  if (pos != size) return false;

  const char* last = body.data() + size;
  const bool integerText = mantissaEnd == size && !point;
  if (integerText) {
    int64_t value = 0;  // from_chars takes a '-' but not a '+'
    if (std::from_chars(negative ? text.data() : body.data(), last, value).ec == std::errc()) {
      integer = value;
      real = double(value);
      isInteger = true;
      return true;
    }
  }
  double value = 0.0;
  if (std::from_chars(body.data(), last, value).ec == std::errc::result_out_of_range) {
    // from_chars reports overflow and underflow alike; the decimal exponent of the first
    // significant digit tells which.
    const int64_t lead = int64_t(body.find_first_of("123456789"));
    const int64_t leadExponent = int64_t(intDigits) - lead - (lead < int64_t(intDigits)) + exponent;
    value = leadExponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  }
  // An integer just below the int64 range reads as -2^63, which would pass the range
  // check; move it one step further out.
  if (integerText && negative && value == 0x1p63) value = std::nextafter(value, 0x1p64);
  integer = 0;
  real = negative ? -value : value;
  isInteger = false;
  return true;
}

double EncodeOleDate(int year, int month, int day, int hour, int minute, int second,
                     int millisecond) {
  const int64_t days = DaysFromCivil(year, month, day) - kOleEpoch;
  const double time = (((hour * 60 + minute) * 60 + second) * 1000.0 + millisecond) / kMsPerDay;
  // Before the epoch the day is negative but its time still counts forward from midnight.
  return days >= 0 ? double(days) + time : double(days) - time;
}

CivilTime DecodeOleDate(double oleDate) {
  if (!IsShowableOleDate(oleDate))
    throw ConversionError("Недопустимая дата: " + FormatReal(oleDate));
  const double dayPart = std::trunc(oleDate);
  int64_t days = int64_t(dayPart) + kOleEpoch;
  int64_t ms = std::llround(std::fabs(oleDate - dayPart) * kMsPerDay);
  if (ms == kMsPerDay) ++days, ms = 0;  // rounded up to the next midnight

  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t monthIndex = (5 * dayOfYear + 2) / 153;  // from March
  const int month = int(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
  return {int(yearOfEra + era * 400 + (month <= 2)),
          month,
          int(dayOfYear - (153 * monthIndex + 2) / 5 + 1),
          int(ms / 3600000),
          int(ms / 60000 % 60),
          int(ms / 1000 % 60),
          int(ms % 1000)};
}

}  // namespace velkor

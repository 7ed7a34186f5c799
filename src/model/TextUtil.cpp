// Texts are read with std::from_chars and written with std::to_chars, neither of which
// looks at the C locale.

#include "model/TextUtil.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace velkor {

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

int HexDigitValue(char c) {
  const char lower = AsciiLower(c);
  return IsAsciiDigit(c) ? c - '0' : lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

bool ParseBoolWord(std::string_view text, bool& value) {
  text = TrimBlanks(text);
  const bool isTrue = EqualsIgnoreAsciiCase(text, "true");
  if (!isTrue && !EqualsIgnoreAsciiCase(text, "false")) return false;
  value = isTrue;
  return true;
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
    if (IsAsciiDigit(c)) mantissa += c;
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

bool ParseNumber(std::string_view text, int64_t& integer, double& real, bool& isInteger) {
  text = TrimBlanks(text);
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
    while (pos < size && IsAsciiDigit(body[pos])) ++pos;
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
    for (; pos < size && IsAsciiDigit(body[pos]); ++pos)
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

std::string SystemErrorText(int error) {
  char buffer[256];
  return strerror_r(error, buffer, sizeof buffer);  // the GNU variant returns the text
}

}  // namespace velkor

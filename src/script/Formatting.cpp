// The formatting built-ins' text rules (Format, FormatFloat, FormatDateTime and the date
// texts), apart from the routine table. They follow the program's fixed conventions ("."
// as the decimal separator, English month names), not the machine's locale.

#include "script/Formatting.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "script/Lexer.h"
#include "script/Vm.h"

namespace velkor {
namespace {

std::string FormatOne(char type, const Variant& v, int precision, std::string& error) {
  char buf[400];
  switch (type) {
    case 'd':
    case 'u': {
      if (!v.IsIntegral() && v.Type() != VarType::Bool) {
        error = "Format '%d' needs an integer";
        return {};
      }
      std::string text = std::to_string(v.ToInt64());
      // A precision gives the least number of digits.
      const bool negative = !text.empty() && text[0] == '-';
      const size_t digits = text.size() - negative;
      if (precision > 0 && size_t(precision) > digits)
        text.insert(negative ? 1 : 0, size_t(precision) - digits, '0');
      return text;
    }
    case 'x': {
      if (!v.IsIntegral()) {
        error = "Format '%x' needs an integer";
        return {};
      }
      const int64_t i = v.ToInt64();
      const uint64_t bits = i < 0 && i >= INT32_MIN ? uint64_t(uint32_t(i)) : uint64_t(i);
      std::snprintf(buf, sizeof buf, "%0*llX", std::clamp(precision, 0, 64),
                    static_cast<unsigned long long>(bits));
      return buf;
    }
    case 'f':
    case 'n':
    case 'm': {
      double d = 0;
      if (v.IsString() || v.IsNull() || v.IsEmpty()) {
        error = "Format '%f' needs a number";
        return {};
      }
      d = v.ToDouble();
      std::snprintf(buf, sizeof buf, "%.*f", precision < 0 ? 2 : std::min(precision, 18), d);
      std::string text = buf;
      if (type == 'n' || type == 'm') {
        // Thousands separated by ',' as the fixed number format has it.
        const size_t point = text.find('.');
        size_t end = point == std::string::npos ? text.size() : point;
        const size_t start = text[0] == '-' ? 1 : 0;
        while (end > start + 3) {
          end -= 3;
          text.insert(end, ",");
        }
      }
      return text;
    }
    case 'e': {
      if (v.IsString() || v.IsNull() || v.IsEmpty()) {
        error = "Format '%e' needs a number";
        return {};
      }
      const int digits = precision < 0 ? 15 : std::clamp(precision, 1, 18);
      std::snprintf(buf, sizeof buf, "%.*E", digits - 1, v.ToDouble());
      // Delphi writes the exponent with its sign and at least three digits: 1.5E+003.
      std::string text = buf;
      const size_t e = text.find('E');
      if (e != std::string::npos) {
        std::string exponent = text.substr(e + 2);
        while (exponent.size() < 3) exponent.insert(0, "0");
        text = text.substr(0, e + 2) + exponent;
      }
      return text;
    }
    case 'g': {
      if (v.IsString() || v.IsNull() || v.IsEmpty()) {
        error = "Format '%g' needs a number";
        return {};
      }
      return FormatReal(v.ToDouble(), precision < 0 ? 15 : std::clamp(precision, 1, 17));
    }
    case 's': {
      std::string text = v.IsNull() ? "" : v.ToString();
      if (precision >= 0 && size_t(precision) < text.size()) text.resize(size_t(precision));
      return text;
    }
    case 'p':
      error = "Format '%p' is not supported";
      return {};
    default:
      error = std::string("Invalid format specifier '%") + type + "'";
      return {};
  }
}

const char* const kShortMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kLongMonths[] = {"January",   "February", "March",    "April",
                                   "May",       "June",     "July",     "August",
                                   "September", "October",  "November", "December"};
const char* const kShortDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kLongDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                 "Thursday", "Friday", "Saturday"};

}  // namespace

std::string FormatArgs(Vm& vm, const Value* a, int argc) {
  const std::string format(TextOf(a[0]));
  std::string out;
  int next = 1;
  for (size_t k = 0; k < format.size();) {
    const char c = format[k++];
    if (c != '%') {
      out += c;
      continue;
    }
    if (k < format.size() && format[k] == '%') {
      out += '%';
      ++k;
      continue;
    }
    // %[index:][-][width][.precision]type, '*' taking a number from the arguments
    bool left = false;
    int width = 0, precision = -1;
    const auto number = [&](int& value) {
      if (k < format.size() && format[k] == '*') {
        ++k;
        if (next >= argc) Raise(ErrorKind::Convert, "Format: not enough arguments");
        value = int(std::clamp<int64_t>(ToVariant(a[next++]).ToInt64(), 0, 1000));
        return true;
      }
      bool any = false;
      while (k < format.size() && format[k] >= '0' && format[k] <= '9') {
        value = std::min(value * 10 + (format[k++] - '0'), 1000);
        any = true;
      }
      return any;
    };
    int index = 0;
    const size_t save = k;
    if (number(index) && k < format.size() && format[k] == ':') {
      ++k;
      next = index + 1;
    } else {
      k = save;
    }
    if (k < format.size() && format[k] == '-') {
      left = true;
      ++k;
    }
    number(width);
    if (k < format.size() && format[k] == '.') {
      ++k;
      precision = 0;
      number(precision);
    }
    if (k >= format.size()) Raise(ErrorKind::Convert, "Format: incomplete '%' specifier");
    const char type = ToLowerAscii(format[k++]);
    if (next >= argc)
      Raise(ErrorKind::Convert, "Format: not enough arguments for '" + format + "'");
    std::string error;
    std::string piece = FormatOne(type, ToVariant(a[next++]), precision, error);
    if (!error.empty()) Raise(ErrorKind::Convert, error);
    if (int(piece.size()) < width) {
      const std::string pad(size_t(width) - piece.size(), ' ');
      piece = left ? piece + pad : pad + piece;
    }
    out += piece;
    vm.Charge(int64_t(piece.size() >> 6));
  }
  return out;
}

// FormatFloat: '0' a digit always shown, '#' a digit when significant, '.' the point,
// ',' thousands separation, 'E+00' an exponent, quoted text as is; ';' separates the
// positive, negative and zero sections.
std::string FormatFloatText(const std::string& fullFormat, double value) {
  std::vector<std::string> sections(1);
  char quote = 0;
  for (char c : fullFormat) {
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == ';' && sections.size() < 3) {
      sections.emplace_back();
      continue;
    }
    sections.back() += c;
  }
  std::string format = sections[0];
  bool negativeSection = false;
  if (value < 0 && sections.size() > 1 && !sections[1].empty()) {
    format = sections[1];
    negativeSection = true;
  } else if (value == 0 && sections.size() > 2 && !sections[2].empty()) {
    format = sections[2];
  }
  if (format.empty()) return FormatReal(value);

  // Split into prefix literal, number pattern, suffix literal.
  std::string prefix, pattern, suffix;
  int stage = 0;
  for (size_t k = 0; k < format.size(); ++k) {
    const char c = format[k];
    if (c == '\'' || c == '"') {
      const size_t end = format.find(c, k + 1);
      const std::string lit =
          format.substr(k + 1, end == std::string::npos ? std::string::npos : end - k - 1);
      (stage == 0 ? prefix : suffix) += lit;
      if (stage == 1) stage = 2;
      k = end == std::string::npos ? format.size() : end;
      continue;
    }
    const bool patternChar =
        c == '0' || c == '#' || c == '.' || c == ',' || ((c == 'E' || c == 'e') && stage == 1);
    if (patternChar && stage < 2) {
      stage = 1;
      pattern += c;
      if ((c == 'E' || c == 'e') && k + 1 < format.size() &&
          (format[k + 1] == '+' || format[k + 1] == '-')) {
        pattern += format[++k];
        while (k + 1 < format.size() && format[k + 1] == '0') pattern += format[++k];
      }
    } else {
      (stage == 0 ? prefix : suffix) += c;
      if (stage == 1) stage = 2;
    }
  }
  size_t expPos = pattern.find_first_of("Ee");
  std::string mantissaPattern = pattern.substr(0, expPos);
  std::string expPattern = expPos == std::string::npos ? "" : pattern.substr(expPos);
  const size_t point = mantissaPattern.find('.');
  const std::string intPattern = mantissaPattern.substr(0, point);
  const std::string fracPattern =
      point == std::string::npos ? "" : mantissaPattern.substr(point + 1);
  int minInt = 0, minFrac = 0, maxFrac = 0;
  bool thousands = false;
  for (char c : intPattern) {
    if (c == '0') ++minInt;
    if (c == ',') thousands = true;
  }
  for (char c : fracPattern) {
    if (c == '0') ++minFrac, ++maxFrac;
    if (c == '#') ++maxFrac;
  }
  double magnitude = std::fabs(value);
  int exponent = 0;
  if (!expPattern.empty() && magnitude != 0.0) {
    const int intDigits = std::max(1, int(std::count(intPattern.begin(), intPattern.end(), '0') +
                                          std::count(intPattern.begin(), intPattern.end(), '#')));
    exponent = int(std::floor(std::log10(magnitude))) - (intDigits - 1);
    magnitude /= std::pow(10.0, exponent);
  }
  char buf[400];
  std::snprintf(buf, sizeof buf, "%.*f", std::min(maxFrac, 18), magnitude);
  std::string digits = buf;
  std::string intPart = digits.substr(0, digits.find('.'));
  std::string fracPart =
      digits.find('.') == std::string::npos ? "" : digits.substr(digits.find('.') + 1);
  while (int(fracPart.size()) > minFrac && !fracPart.empty() && fracPart.back() == '0')
    fracPart.pop_back();
  if (intPart == "0" && minInt == 0) intPart.clear();
  if (int(intPart.size()) < minInt)
    intPart = std::string(size_t(minInt) - intPart.size(), '0') + intPart;
  if (thousands) {
    std::string grouped;
    for (size_t k = 0; k < intPart.size(); ++k) {
      if (k > 0 && (intPart.size() - k) % 3 == 0) grouped += ',';
      grouped += intPart[k];
    }
    intPart = std::move(grouped);
  }
  std::string out = intPart;
  if (!fracPart.empty()) out += "." + fracPart;
  if (out.empty()) out = "0";
  if (!expPattern.empty()) {
    const bool plus = expPattern.size() > 1 && expPattern[1] == '+';
    const int expDigits = int(std::count(expPattern.begin(), expPattern.end(), '0'));
    std::string e = std::to_string(std::abs(exponent));
    while (int(e.size()) < expDigits) e.insert(0, "0");
    out += std::string(1, expPattern[0]) + (exponent < 0 ? "-" : plus ? "+" : "") + e;
  }
  const bool allZero = out.find_first_not_of("0.,") == std::string::npos;
  const bool showMinus = value < 0 && !negativeSection && !allZero;
  return prefix + (showMinus ? "-" : "") + out + suffix;
}

int DayOfWeekOf(double oleDate) {
  const int64_t day = int64_t(std::floor(oleDate));
  return int(((day % 7) + 7 + 6) % 7) + 1;  // 1899-12-30 was a Saturday (7)
}

CivilTime Decode(double oleDate) {
  try {
    return DecodeOleDate(oleDate);
  } catch (const VelkorError& e) {
    Raise(ErrorKind::Convert, e.what());
  }
}

std::string FormatDateText(const std::string& format, double oleDate) {
  const CivilTime t = Decode(oleDate);
  std::string out;
  bool afterHour = false;
  char buf[32];
  for (size_t k = 0; k < format.size();) {
    const char c = format[k];
    const char lc = ToLowerAscii(c);
    size_t run = 1;
    while (k + run < format.size() && ToLowerAscii(format[k + run]) == lc) ++run;
    if (c == '\'' || c == '"') {
      const size_t end = format.find(c, k + 1);
      out += format.substr(k + 1, end == std::string::npos ? std::string::npos : end - k - 1);
      k = end == std::string::npos ? format.size() : end + 1;
      continue;
    }
    if (lc == 'a' && format.compare(k, 5, "am/pm") == 0) {
      out += t.hour < 12 ? "am" : "pm";
      k += 5;
      continue;
    }
    switch (lc) {
      case 'y':
        std::snprintf(buf, sizeof buf, run <= 2 ? "%02d" : "%04d",
                      run <= 2 ? t.year % 100 : t.year);
        out += buf;
        break;
      case 'm':
        if (afterHour && run <= 2) {
          std::snprintf(buf, sizeof buf, run == 1 ? "%d" : "%02d", t.minute);
          out += buf;
          afterHour = false;
        } else if (run >= 4) {
          out += kLongMonths[t.month - 1];
        } else if (run == 3) {
          out += kShortMonths[t.month - 1];
        } else {
          std::snprintf(buf, sizeof buf, run == 1 ? "%d" : "%02d", t.month);
          out += buf;
        }
        break;
      case 'd':
        if (run >= 5) {
          std::snprintf(buf, sizeof buf, "%02d.%02d.%04d", t.day, t.month, t.year);
          out += buf;
        } else if (run == 4) {
          out += kLongDays[DayOfWeekOf(oleDate) - 1];
        } else if (run == 3) {
          out += kShortDays[DayOfWeekOf(oleDate) - 1];
        } else {
          std::snprintf(buf, sizeof buf, run == 1 ? "%d" : "%02d", t.day);
          out += buf;
        }
        break;
      case 'h':
        std::snprintf(buf, sizeof buf, run == 1 ? "%d" : "%02d", t.hour);
        out += buf;
        afterHour = true;
        k += std::min<size_t>(run, 2);
        continue;
      case 'n':
        std::snprintf(buf, sizeof buf, run == 1 ? "%d" : "%02d", t.minute);
        out += buf;
        break;
      case 's':
        std::snprintf(buf, sizeof buf, run == 1 ? "%d" : "%02d", t.second);
        out += buf;
        break;
      case 'z':
        std::snprintf(buf, sizeof buf, run >= 3 ? "%03d" : "%d", t.millisecond);
        out += buf;
        break;
      case 't':
        std::snprintf(buf, sizeof buf, run == 1 ? "%d:%02d" : "%d:%02d:%02d", t.hour, t.minute,
                      t.second);
        out += buf;
        break;
      case 'c':
        out += FormatDateTime(oleDate, true);
        break;
      case '/':
        out += '.';
        break;
      default:
        out.append(run, c);
        break;
    }
    if (lc != 'h' && lc != ' ' && lc != ':' && lc != 'm') afterHour = afterHour && lc == 'n';
    k += run;
  }
  return out;
}

}  // namespace velkor

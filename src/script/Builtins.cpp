// Texts and dates follow the program's fixed conventions ("." as decimal separator,
// dd.MM.yyyy and h:mm:ss) rather than the machine's locale, through the model's helpers.

#include "script/Builtins.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>
#include <unordered_map>

#include "runtime/Log.h"
#include "runtime/Random.h"
#include "script/Vm.h"

namespace velkor {
namespace {

constexpr int kCustomError = 1;  // erCustomError

std::string Text(const Value& v) { return std::string(TextOf(v)); }

void Result(Value& r, std::string text) {
  SetStr(r, text.empty() ? nullptr : NewStr(std::move(text)));
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; }
char Upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : c; }
bool Blank(char c) { return static_cast<unsigned char>(c) <= ' '; }

[[noreturn]] void ConvertFail(const std::string& text, const char* what) {
  Raise(ErrorKind::Convert, "'" + text + "' is not a valid " + what);
}

double CheckedReal(double v) {
  if (std::isnan(v) || std::isinf(v))
    Raise(ErrorKind::Overflow, "Invalid floating point operation");
  return v;
}

// Round half to even, as Delphi's Round does.
double RoundEven(double x) {
  const double down = std::floor(x);
  const double fraction = x - down;
  return fraction > 0.5 || (fraction == 0.5 && std::fmod(down, 2.0) != 0.0) ? down + 1.0 : down;
}

int64_t RealToInt(double v) {
  if (!(v >= -9.2233720368547758e18 && v < 9.2233720368547758e18))
    Raise(ErrorKind::Overflow, "Integer overflow: " + FormatReal(v) + " does not fit an integer");
  return int64_t(v);
}

// ---- numbers and texts

void IntToStr(Vm&, Value* a, int, Value& r) { Result(r, std::to_string(a[0].i)); }

void IntToHex(Vm&, Value* a, int argc, Value& r) {
  const int64_t v = a[0].i;
  const uint64_t bits = v < 0 && v >= INT32_MIN ? uint64_t(uint32_t(v)) : uint64_t(v);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(bits));
  std::string text = buf;
  const int64_t digits = argc > 1 ? std::min<int64_t>(a[1].i, 32) : 0;
  if (int64_t(text.size()) < digits) text.insert(0, size_t(digits) - text.size(), '0');
  Result(r, text);
}

void FloatToStr(Vm&, Value* a, int, Value& r) { Result(r, FormatReal(a[0].d)); }

bool ParseInt(const std::string& text, int64_t& out) {
  int64_t integer = 0;
  double real = 0;
  bool isInteger = false;
  if (!ParseNumber(text, integer, real, isInteger) || !isInteger) return false;
  out = integer;
  return true;
}

void StrToInt(Vm&, Value* a, int, Value& r) {
  int64_t v = 0;
  const std::string text = Text(a[0]);
  if (!ParseInt(text, v) || v < INT32_MIN || v > INT32_MAX) ConvertFail(text, "integer value");
  SetInt(r, v);
}

void StrToInt64(Vm&, Value* a, int, Value& r) {
  int64_t v = 0;
  const std::string text = Text(a[0]);
  if (!ParseInt(text, v)) ConvertFail(text, "integer value");
  SetInt(r, v);
}

void StrToIntDef(Vm&, Value* a, int, Value& r) {
  int64_t v = 0;
  SetInt(r, ParseInt(Text(a[0]), v) ? v : a[1].i);
}

bool ParseFloat(const std::string& text, double& out) {
  int64_t integer = 0;
  bool isInteger = false;
  if (!ParseNumber(text, integer, out, isInteger)) return false;
  if (isInteger) out = double(integer);
  return std::isfinite(out);
}

void StrToFloat(Vm&, Value* a, int, Value& r) {
  double v = 0;
  const std::string text = Text(a[0]);
  if (!ParseFloat(text, v)) ConvertFail(text, "floating point value");
  SetReal(r, v);
}

void StrToFloatDef(Vm&, Value* a, int, Value& r) {
  double v = 0;
  SetReal(r, ParseFloat(Text(a[0]), v) ? v : a[1].d);
}

void StrToBool(Vm&, Value* a, int, Value& r) {
  const std::string text = Text(a[0]);
  std::string lower;
  for (char c : text)
    if (!Blank(c)) lower += Lower(c);
  if (lower == "true") return SetBool(r, true);
  if (lower == "false") return SetBool(r, false);
  double v = 0;
  if (ParseFloat(text, v)) return SetBool(r, v != 0.0);
  ConvertFail(text, "boolean value");
}

void BoolToStr(Vm&, Value* a, int argc, Value& r) {
  const bool words = argc > 1 && a[1].i;
  Result(r, a[0].i ? (words ? "True" : "-1") : (words ? "False" : "0"));
}

void VarToStr(Vm&, Value* a, int, Value& r) {
  if (a[0].tag == Tag::Null) return Result(r, "");
  Result(r, ToVariant(a[0]).ToString());
}

void ValidInt(Vm&, Value* a, int, Value& r) {
  int64_t v = 0;
  SetBool(r, ParseInt(Text(a[0]), v) && v >= INT32_MIN && v <= INT32_MAX);
}

void ValidFloat(Vm&, Value* a, int, Value& r) {
  double v = 0;
  SetBool(r, ParseFloat(Text(a[0]), v));
}

void ValidDate(Vm&, Value* a, int, Value& r) {
  double v = 0;
  SetBool(r, ParseDateTime(Text(a[0]), v));
}

// ---- Format

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

void Format(Vm& vm, Value* a, int argc, Value& r) {
  const std::string format = Text(a[0]);
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
    const char type = Lower(format[k++]);
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
  Result(r, std::move(out));
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

void FormatFloat(Vm&, Value* a, int, Value& r) { Result(r, FormatFloatText(Text(a[0]), a[1].d)); }

// ---- dates

const char* const kShortMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kLongMonths[] = {"January",   "February", "March",    "April",
                                   "May",       "June",     "July",     "August",
                                   "September", "October",  "November", "December"};
const char* const kShortDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kLongDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                 "Thursday", "Friday", "Saturday"};

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
    const char lc = Lower(c);
    size_t run = 1;
    while (k + run < format.size() && Lower(format[k + run]) == lc) ++run;
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

void FormatDateTimeFn(Vm&, Value* a, int, Value& r) {
  Result(r, FormatDateText(Text(a[0]), a[1].d));
}

void DateToStr(Vm&, Value* a, int, Value& r) { Result(r, FormatDateText("dd.mm.yyyy", a[0].d)); }
void TimeToStr(Vm&, Value* a, int, Value& r) { Result(r, FormatDateText("h:nn:ss", a[0].d)); }
void DateTimeToStr(Vm&, Value* a, int, Value& r) {
  Decode(a[0].d);
  Result(r, FormatDateTime(a[0].d));
}

double ParseDateOrFail(const std::string& text, const char* what) {
  double v = 0;
  if (!ParseDateTime(text, v)) ConvertFail(text, what);
  return v;
}

void StrToDate(Vm&, Value* a, int, Value& r) {
  const std::string text = Text(a[0]);
  const double v = ParseDateOrFail(text, "date");
  if (v != std::trunc(v)) ConvertFail(text, "date");
  SetTaggedReal(r, Tag::DateTime, v);
}

void StrToTime(Vm&, Value* a, int, Value& r) {
  const std::string text = Text(a[0]);
  if (text.find(':') == std::string::npos || text.find('.') < text.find(':'))
    ConvertFail(text, "time");
  SetTaggedReal(r, Tag::DateTime, ParseDateOrFail(text, "time"));
}

void StrToDateTime(Vm&, Value* a, int, Value& r) {
  SetTaggedReal(r, Tag::DateTime, ParseDateOrFail(Text(a[0]), "date and time"));
}

int DaysIn(int64_t year, int64_t month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  return month == 2 && leap ? 29 : kDays[month - 1];
}

void EncodeDate(Vm&, Value* a, int, Value& r) {
  const int64_t y = a[0].i, m = a[1].i, d = a[2].i;
  if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1 || d > DaysIn(y, m))
    Raise(ErrorKind::Convert, "Invalid argument to date encode");
  SetTaggedReal(r, Tag::DateTime, EncodeOleDate(int(y), int(m), int(d)));
}

void EncodeTime(Vm&, Value* a, int, Value& r) {
  const int64_t h = a[0].i, m = a[1].i, s = a[2].i, ms = a[3].i;
  if (h < 0 || h > 23 || m < 0 || m > 59 || s < 0 || s > 59 || ms < 0 || ms > 999)
    Raise(ErrorKind::Convert, "Invalid argument to time encode");
  SetTaggedReal(r, Tag::DateTime, EncodeOleDate(1899, 12, 30, int(h), int(m), int(s), int(ms)));
}

void DecodeDate(Vm&, Value* a, int, Value&) {
  const CivilTime t = Decode(a[0].d);
  SetInt(a[1], t.year);
  SetInt(a[2], t.month);
  SetInt(a[3], t.day);
}

void DecodeTime(Vm&, Value* a, int, Value&) {
  const CivilTime t = Decode(a[0].d);
  SetInt(a[1], t.hour);
  SetInt(a[2], t.minute);
  SetInt(a[3], t.second);
  SetInt(a[4], t.millisecond);
}

double NowOle() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  const time_t seconds = ts.tv_sec;
  tm local{};
  localtime_r(&seconds, &local);
  return EncodeOleDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                       local.tm_min, local.tm_sec, int(ts.tv_nsec / 1000000));
}

void Now(Vm&, Value*, int, Value& r) { SetTaggedReal(r, Tag::DateTime, NowOle()); }
void Date(Vm&, Value*, int, Value& r) { SetTaggedReal(r, Tag::DateTime, std::floor(NowOle())); }
void Time(Vm&, Value*, int, Value& r) {
  const double now = NowOle();
  SetTaggedReal(r, Tag::DateTime, now - std::floor(now));
}

void DayOfWeek(Vm&, Value* a, int, Value& r) { SetInt(r, DayOfWeekOf(a[0].d)); }

void IsLeapYear(Vm&, Value* a, int, Value& r) {
  const int64_t y = a[0].i;
  SetBool(r, y % 4 == 0 && (y % 100 != 0 || y % 400 == 0));
}

void DaysInMonth(Vm&, Value* a, int argc, Value& r) {
  if (argc == 1) {
    const CivilTime t = Decode(ToVariant(a[0]).ConvertTo(VarType::DateTime).RawReal());
    return SetInt(r, DaysIn(t.year, t.month));
  }
  const int64_t year = ToVariant(a[0]).ToInt64(), month = a[1].i;
  if (month < 1 || month > 12)
    Raise(ErrorKind::Range, "Month out of range: " + std::to_string(month));
  SetInt(r, DaysIn(year, month));
}

// ---- strings

void Length(Vm&, Value* a, int, Value& r) { SetInt(r, int64_t(TextOf(a[0]).size())); }

void Copy(Vm&, Value* a, int argc, Value& r) {
  const std::string_view s = TextOf(a[0]);
  int64_t index = a[1].i, count = argc > 2 ? a[2].i : int64_t(s.size());
  if (index < 1) index = 1;
  if (count < 0 || index > int64_t(s.size())) return Result(r, "");
  Result(r, std::string(s.substr(size_t(index - 1), size_t(count))));
}

void Pos(Vm&, Value* a, int, Value& r) {
  const std::string_view sub = TextOf(a[0]), s = TextOf(a[1]);
  if (sub.empty()) return SetInt(r, 0);
  const size_t at = s.find(sub);
  SetInt(r, at == std::string_view::npos ? 0 : int64_t(at) + 1);
}

std::string Deleted(std::string_view s, int64_t index, int64_t count) {
  std::string out(s);
  if (index < 1 || index > int64_t(out.size()) || count <= 0) return out;
  out.erase(size_t(index - 1), size_t(count));
  return out;
}

void Delete(Vm&, Value* a, int, Value&) { Result(a[0], Deleted(TextOf(a[0]), a[1].i, a[2].i)); }
void DeleteStr(Vm&, Value* a, int, Value& r) { Result(r, Deleted(TextOf(a[0]), a[1].i, a[2].i)); }

void Insert(Vm&, Value* a, int, Value&) {
  std::string out(TextOf(a[1]));
  int64_t index = a[2].i;
  if (index < 1) index = 1;
  if (index > int64_t(out.size())) index = int64_t(out.size()) + 1;
  out.insert(size_t(index - 1), TextOf(a[0]));
  Result(a[1], std::move(out));
}

void UpperCase(Vm&, Value* a, int, Value& r) {
  std::string s = Text(a[0]);
  for (char& c : s) c = Upper(c);
  Result(r, std::move(s));
}

void LowerCase(Vm&, Value* a, int, Value& r) {
  std::string s = Text(a[0]);
  for (char& c : s) c = Lower(c);
  Result(r, std::move(s));
}

void Trim(Vm&, Value* a, int, Value& r) {
  std::string_view s = TextOf(a[0]);
  while (!s.empty() && Blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && Blank(s.back())) s.remove_suffix(1);
  Result(r, std::string(s));
}

void TrimLeft(Vm&, Value* a, int, Value& r) {
  std::string_view s = TextOf(a[0]);
  while (!s.empty() && Blank(s.front())) s.remove_prefix(1);
  Result(r, std::string(s));
}

void TrimRight(Vm&, Value* a, int, Value& r) {
  std::string_view s = TextOf(a[0]);
  while (!s.empty() && Blank(s.back())) s.remove_suffix(1);
  Result(r, std::string(s));
}

// Each word starts upper-case, the rest lower-case.
void NameCase(Vm&, Value* a, int, Value& r) {
  std::string s = Text(a[0]);
  bool start = true;
  for (char& c : s) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    c = start ? Upper(c) : Lower(c);
    start = !letter && c != '\'';
  }
  Result(r, std::move(s));
}

void CompareText(Vm&, Value* a, int, Value& r) {
  const std::string_view x = TextOf(a[0]), y = TextOf(a[1]);
  for (size_t k = 0; k < x.size() && k < y.size(); ++k) {
    const int d = static_cast<unsigned char>(Lower(x[k])) - static_cast<unsigned char>(Lower(y[k]));
    if (d) return SetInt(r, d);
  }
  SetInt(r, int64_t(x.size()) - int64_t(y.size()));
}

void CompareStr(Vm&, Value* a, int, Value& r) {
  const std::string_view x = TextOf(a[0]), y = TextOf(a[1]);
  for (size_t k = 0; k < x.size() && k < y.size(); ++k) {
    const int d = static_cast<unsigned char>(x[k]) - static_cast<unsigned char>(y[k]);
    if (d) return SetInt(r, d);
  }
  SetInt(r, int64_t(x.size()) - int64_t(y.size()));
}

void SameText(Vm& vm, Value* a, int argc, Value& r) {
  CompareText(vm, a, argc, r);
  SetBool(r, r.i == 0);
}

void Chr(Vm&, Value* a, int, Value& r) {
  if (a[0].i < 0 || a[0].i > 255)
    Raise(ErrorKind::Range, "Chr: " + std::to_string(a[0].i) + " is not a character code (0..255)");
  SetChar(r, a[0].i);
}

void SetLengthFn(Vm& vm, Value* a, int, Value&) {
  const int64_t n = a[1].i;
  if (n < 0) return Result(a[0], "");
  if (uint64_t(n) > kMaxStringLength) ThrowOutOfMemory();
  vm.Charge(n >> 6);
  std::string s = Text(a[0]);
  s.resize(size_t(n), ' ');
  Result(a[0], std::move(s));
}

void StringOfChar(Vm& vm, Value* a, int, Value& r) {
  const int64_t n = a[1].i;
  if (n <= 0) return Result(r, "");
  if (uint64_t(n) > kMaxStringLength) ThrowOutOfMemory();
  vm.Charge(n >> 6);
  Result(r, std::string(size_t(n), char(a[0].i)));
}

void QuotedStr(Vm&, Value* a, int, Value& r) {
  std::string out = "'";
  for (char c : TextOf(a[0])) {
    out += c;
    if (c == '\'') out += c;
  }
  Result(r, out + "'");
}

void ExtractFilePath(Vm&, Value* a, int, Value& r) {
  const std::string s = Text(a[0]);
  const size_t at = s.find_last_of("\\/:");
  Result(r, at == std::string::npos ? "" : s.substr(0, at + 1));
}

void ExtractFileName(Vm&, Value* a, int, Value& r) {
  const std::string s = Text(a[0]);
  const size_t at = s.find_last_of("\\/:");
  Result(r, at == std::string::npos ? s : s.substr(at + 1));
}

void ExtractFileExt(Vm&, Value* a, int, Value& r) {
  const std::string s = Text(a[0]);
  const size_t at = s.find_last_of(".\\/:");
  Result(r, at == std::string::npos || s[at] != '.' ? "" : s.substr(at));
}

// Mask characters that take a character of the value; every other one is a literal. The
// mask may end with ";0" (the value holds no literals) or ";1", and ";c" for blanks.
void FormatMaskText(Vm&, Value* a, int, Value& r) {
  std::string mask = Text(a[0]);
  const std::string value = Text(a[1]);
  bool valueHasLiterals = true;
  char blank = ' ';
  const size_t semi = mask.find(';');
  if (semi != std::string::npos) {
    const std::string options = mask.substr(semi + 1);
    mask.resize(semi);
    if (!options.empty()) valueHasLiterals = options[0] != '0';
    const size_t second = options.find(';');
    if (second != std::string::npos && second + 1 < options.size()) blank = options[second + 1];
  }
  std::string out;
  size_t v = 0;
  for (size_t k = 0; k < mask.size(); ++k) {
    char c = mask[k];
    if (c == '!' || c == '>' || c == '<') continue;
    if (c == '\\' && k + 1 < mask.size()) {
      c = mask[++k];
      out += c;
      if (valueHasLiterals && v < value.size() && value[v] == c) ++v;
      continue;
    }
    const bool slot = c == '0' || c == '9' || c == '#' || c == 'L' || c == 'l' || c == 'A' ||
                      c == 'a' || c == 'C' || c == 'c';
    if (slot) {
      out += v < value.size() ? value[v++] : blank;
    } else {
      const char literal = c == '/' ? '.' : c;
      out += literal;
      if (valueHasLiterals && v < value.size() && value[v] == literal) ++v;
    }
  }
  Result(r, std::move(out));
}

// ---- arithmetic

void Round(Vm&, Value* a, int, Value& r) { SetInt(r, RealToInt(RoundEven(a[0].d))); }
void Trunc(Vm&, Value* a, int, Value& r) { SetInt(r, RealToInt(std::trunc(a[0].d))); }
void Ceil(Vm&, Value* a, int, Value& r) { SetInt(r, RealToInt(std::ceil(a[0].d))); }
void Floor(Vm&, Value* a, int, Value& r) { SetInt(r, RealToInt(std::floor(a[0].d))); }
void Int(Vm&, Value* a, int, Value& r) { SetReal(r, std::trunc(a[0].d)); }
void Frac(Vm&, Value* a, int, Value& r) { SetReal(r, a[0].d - std::trunc(a[0].d)); }
void Sqrt(Vm&, Value* a, int, Value& r) {
  if (a[0].d < 0) Raise(ErrorKind::Other, "Invalid floating point operation: Sqrt of a negative");
  SetReal(r, std::sqrt(a[0].d));
}
void Sin(Vm&, Value* a, int, Value& r) { SetReal(r, std::sin(a[0].d)); }
void Cos(Vm&, Value* a, int, Value& r) { SetReal(r, std::cos(a[0].d)); }
void Tan(Vm&, Value* a, int, Value& r) { SetReal(r, std::tan(a[0].d)); }
void ArcTan(Vm&, Value* a, int, Value& r) { SetReal(r, std::atan(a[0].d)); }
void Exp(Vm&, Value* a, int, Value& r) { SetReal(r, CheckedReal(std::exp(a[0].d))); }
void Ln(Vm&, Value* a, int, Value& r) {
  if (a[0].d <= 0) Raise(ErrorKind::Other, "Invalid floating point operation: Ln of a value <= 0");
  SetReal(r, std::log(a[0].d));
}
void Power(Vm&, Value* a, int, Value& r) { SetReal(r, CheckedReal(std::pow(a[0].d, a[1].d))); }
void Pi(Vm&, Value*, int, Value& r) { SetReal(r, 3.14159265358979323846); }
void Odd(Vm&, Value* a, int, Value& r) { SetBool(r, (a[0].i & 1) != 0); }

void AbsI(Vm&, Value* a, int, Value& r) {
  if (a[0].i == INT64_MIN) Raise(ErrorKind::Overflow, "Integer overflow");
  SetInt(r, a[0].i < 0 ? -a[0].i : a[0].i);
}
void AbsF(Vm&, Value* a, int, Value& r) { SetReal(r, std::fabs(a[0].d)); }
void AbsV(Vm&, Value* a, int, Value& r) {
  const Variant v = ToVariant(a[0]);
  FromVariant(r, Variant::Compare(v, Variant(0)) < 0 ? -v : v);
}

void MaxV(Vm&, Value* a, int, Value& r) {
  const Variant x = ToVariant(a[0]), y = ToVariant(a[1]);
  FromVariant(r, Variant::Compare(x, y) >= 0 ? x : y);
}
void MinV(Vm&, Value* a, int, Value& r) {
  const Variant x = ToVariant(a[0]), y = ToVariant(a[1]);
  FromVariant(r, Variant::Compare(x, y) <= 0 ? x : y);
}

void OrdV(Vm&, Value* a, int, Value& r) {
  const Value& v = a[0];
  if (v.tag == Tag::String) {
    if (TextOf(v).size() != 1) Raise(ErrorKind::Convert, "Ord needs one character");
    return SetInt(r, static_cast<unsigned char>(TextOf(v)[0]));
  }
  if (v.tag == Tag::Bool) return SetInt(r, v.i ? 1 : 0);
  SetInt(r, ToVariant(v).ToInt64());
}

void RandomF(Vm&, Value*, int, Value& r) { SetReal(r, RandomReal()); }
void RandomI(Vm&, Value* a, int, Value& r) {
  const int64_t n = a[0].i;
  SetInt(r, n <= 0 ? 0 : int64_t(RandomBelow(uint32_t(std::min<int64_t>(n, UINT32_MAX)))));
}
void Randomize(Vm&, Value*, int, Value&) {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  SeedRandom(uint64_t(ts.tv_sec) * 1000000000ull + uint64_t(ts.tv_nsec));
}

// ---- errors, messages, variants

void RaiseException(Vm&, Value* a, int, Value&) {
  (void)kCustomError;
  Raise(ErrorKind::Custom, Text(a[1]));
}

void ExceptionParam(Vm& vm, Value*, int, Value& r) { Result(r, vm.CurrentExceptionText()); }
void ExcMatch(Vm& vm, Value* a, int, Value& r) {
  SetBool(r, vm.CurrentExceptionIs(unsigned(a[0].i)));
}

void ShowMessage(Vm& vm, Value* a, int, Value&) {
  const std::string text = Text(a[0]);
  if (vm.showMessage)
    vm.showMessage(text);
  else
    LogMessage(text);
}

void CreateOleObject(Vm&, Value* a, int, Value&) {
  Raise(ErrorKind::Other, "CreateOleObject('" + Text(a[0]) + "'): not supported on this platform");
}

void VarArrayCreate(Vm&, Value*, int, Value&) {
  Raise(ErrorKind::Other,
        "VarArrayCreate: variant arrays are not supported; use array[lo..hi] of Variant");
}

void VarTypeFn(Vm&, Value* a, int, Value& r) {
  const Tag t = a[0].tag;
  SetInt(r, t == Tag::Char                   ? int64_t(Tag::String)
            : t == Tag::Agg || t == Tag::Ref ? 0x2000
                                             : int64_t(t));
}

void VarIsNull(Vm&, Value* a, int, Value& r) { SetBool(r, a[0].tag == Tag::Null); }
void VarIsEmpty(Vm&, Value* a, int, Value& r) { SetBool(r, a[0].tag == Tag::Empty); }

const BuiltinInfo kBuiltins[] = {
    {"inttostr", IntToStr, "i", 's'},
    {"inttohex", IntToHex, "i|i", 's'},
    {"floattostr", FloatToStr, "f", 's'},
    {"datetostr", DateToStr, "d", 's'},
    {"timetostr", TimeToStr, "d", 's'},
    {"datetimetostr", DateTimeToStr, "d", 's'},
    {"booltostr", BoolToStr, "b|b", 's'},
    {"vartostr", VarToStr, "v", 's'},
    {"strtoint", StrToInt, "s", 'i'},
    {"strtoint64", StrToInt64, "s", 'i'},
    {"strtointdef", StrToIntDef, "si", 'i'},
    {"strtofloat", StrToFloat, "s", 'f'},
    {"strtofloatdef", StrToFloatDef, "sf", 'f'},
    {"strtodate", StrToDate, "s", 'd'},
    {"strtotime", StrToTime, "s", 'd'},
    {"strtodatetime", StrToDateTime, "s", 'd'},
    {"strtobool", StrToBool, "s", 'b'},
    {"format", Format, "s*", 's'},
    {"formatfloat", FormatFloat, "sf", 's'},
    {"formatdatetime", FormatDateTimeFn, "sd", 's'},
    {"formatmasktext", FormatMaskText, "ss", 's'},
    {"encodedate", EncodeDate, "iii", 'd'},
    {"decodedate", DecodeDate, "dIII", '-'},
    {"encodetime", EncodeTime, "iiii", 'd'},
    {"decodetime", DecodeTime, "dIIII", '-'},
    {"date", Date, "", 'd'},
    {"time", Time, "", 'd'},
    {"now", Now, "", 'd'},
    {"dayofweek", DayOfWeek, "d", 'i'},
    {"isleapyear", IsLeapYear, "i", 'b'},
    {"daysinmonth", DaysInMonth, "v|i", 'i'},
    {"length", Length, "s", 'i'},
    {"copy", Copy, "si|i", 's'},
    {"pos", Pos, "ss", 'i'},
    {"delete", Delete, "Sii", '-'},
    {"deletestr", DeleteStr, "sii", 's'},
    {"insert", Insert, "sSi", '-'},
    {"uppercase", UpperCase, "s", 's'},
    {"lowercase", LowerCase, "s", 's'},
    {"ansiuppercase", UpperCase, "s", 's'},
    {"ansilowercase", LowerCase, "s", 's'},
    {"trim", Trim, "s", 's'},
    {"trimleft", TrimLeft, "s", 's'},
    {"trimright", TrimRight, "s", 's'},
    {"namecase", NameCase, "s", 's'},
    {"comparetext", CompareText, "ss", 'i'},
    {"comparestr", CompareStr, "ss", 'i'},
    {"sametext", SameText, "ss", 'b'},
    {"chr", Chr, "i", 'c'},
    {"setlength", SetLengthFn, "Si", '-'},
    {"stringofchar", StringOfChar, "ci", 's'},
    {"quotedstr", QuotedStr, "s", 's'},
    {"round", Round, "f", 'i'},
    {"trunc", Trunc, "f", 'i'},
    {"ceil", Ceil, "f", 'i'},
    {"floor", Floor, "f", 'i'},
    {"int", Int, "f", 'f'},
    {"frac", Frac, "f", 'f'},
    {"sqrt", Sqrt, "f", 'f'},
    {"sin", Sin, "f", 'f'},
    {"cos", Cos, "f", 'f'},
    {"tan", Tan, "f", 'f'},
    {"arctan", ArcTan, "f", 'f'},
    {"exp", Exp, "f", 'f'},
    {"ln", Ln, "f", 'f'},
    {"power", Power, "ff", 'f'},
    {"pi", Pi, "", 'f'},
    {"odd", Odd, "i", 'b'},
    {"max", MaxV, "vv", 'v'},
    {"min", MinV, "vv", 'v'},
    {"raiseexception", RaiseException, "is", '-'},
    {"exceptionparam", ExceptionParam, "", 's'},
    {"exceptionmessage", ExceptionParam, "", 's'},
    {"showmessage", ShowMessage, "s", '-'},
    {"randomize", Randomize, "", '-'},
    {"validint", ValidInt, "s", 'b'},
    {"validfloat", ValidFloat, "s", 'b'},
    {"validdate", ValidDate, "s", 'b'},
    {"extractfilepath", ExtractFilePath, "s", 's'},
    {"extractfilename", ExtractFileName, "s", 's'},
    {"extractfileext", ExtractFileExt, "s", 's'},
    {"createoleobject", CreateOleObject, "s", 'v'},
    {"vararraycreate", VarArrayCreate, "*i", 'v'},
    {"vartype", VarTypeFn, "v", 'i'},
    {"varisnull", VarIsNull, "v", 'b'},
    {"varisempty", VarIsEmpty, "v", 'b'},
    // Typed variants the compiler picks for the overloaded routines.
    {"$absi", AbsI, "i", 'i'},
    {"$absf", AbsF, "f", 'f'},
    {"$absv", AbsV, "v", 'v'},
    {"$ordv", OrdV, "v", 'i'},
    {"$randomf", RandomF, "", 'f'},
    {"$randomi", RandomI, "i", 'i'},
    {"$excmatch", ExcMatch, "i", 'b'},
};

const BuiltinConst kConsts[] = {
    {"true", 'b', 1},           {"false", 'b', 0},       {"nil", 'p', 0},
    {"null", 'n', 0},           {"unassigned", 'e', 0},  {"ercustomerror", 'i', kCustomError},
    {"maxint", 'i', INT32_MAX}, {"varempty", 'i', 0},    {"varnull", 'i', 1},
    {"varsmallint", 'i', 2},    {"varinteger", 'i', 3},  {"varsingle", 'i', 4},
    {"vardouble", 'i', 5},      {"vardate", 'i', 7},     {"varboolean", 'i', 11},
    {"varvariant", 'i', 12},    {"varword", 'i', 18},    {"varlongword", 'i', 19},
    {"varint64", 'i', 20},      {"varstring", 'i', 256},
};

}  // namespace

const BuiltinInfo* FindBuiltin(const std::string& name) {
  static const std::unordered_map<std::string, const BuiltinInfo*> kByName = [] {
    std::unordered_map<std::string, const BuiltinInfo*> m;
    for (const BuiltinInfo& b : kBuiltins) m.emplace(b.name, &b);
    return m;
  }();
  const auto it = kByName.find(name);
  return it == kByName.end() ? nullptr : it->second;
}

int BuiltinIndex(const BuiltinInfo* info) { return int(info - kBuiltins); }
const BuiltinInfo& BuiltinAt(int index) { return kBuiltins[index]; }

const BuiltinConst* FindBuiltinConst(const std::string& name) {
  for (const BuiltinConst& c : kConsts)
    if (name == c.name) return &c;
  return nullptr;
}

unsigned ExceptionTypeMask(const std::string& name) {
  const auto bit = [](ErrorKind k) { return 1u << unsigned(k); };
  if (name == "exception") return 0xFFu;
  if (name == "edivbyzero" || name == "ezerodivide") return bit(ErrorKind::DivByZero);
  if (name == "econverterror" || name == "evarianttypecasterror") return bit(ErrorKind::Convert);
  if (name == "eintoverflow" || name == "eoverflow") return bit(ErrorKind::Overflow);
  if (name == "erangeerror") return bit(ErrorKind::Range);
  if (name == "emathError" || name == "ematherror")
    return bit(ErrorKind::DivByZero) | bit(ErrorKind::Overflow);
  return 0;
}

}  // namespace velkor

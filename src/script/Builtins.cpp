// Texts and dates follow the program's fixed conventions ("." as decimal separator,
// dd.MM.yyyy and h:mm:ss) rather than the machine's locale, through the model's helpers.

#include "script/Builtins.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>
#include <unordered_map>

#include "model/OleDate.h"
#include "runtime/Log.h"
#include "runtime/Random.h"
#include "script/Formatting.h"
#include "script/Lexer.h"
#include "script/Vm.h"

namespace velkor {
namespace {

constexpr int kCustomError = 1;  // erCustomError

std::string Text(const Value& v) { return std::string(TextOf(v)); }

void Result(Value& r, std::string text) {
  SetStr(r, text.empty() ? nullptr : NewStr(std::move(text)));
}

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
    if (!Blank(c)) lower += ToLowerAscii(c);
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

void Format(Vm& vm, Value* a, int argc, Value& r) { Result(r, FormatArgs(vm, a, argc)); }

void FormatFloat(Vm&, Value* a, int, Value& r) { Result(r, FormatFloatText(Text(a[0]), a[1].d)); }

// ---- dates

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

bool IsLeap(int64_t year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysIn(int64_t year, int64_t month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
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

void Now(Vm&, Value*, int, Value& r) { SetTaggedReal(r, Tag::DateTime, LocalNowOle()); }
void Date(Vm&, Value*, int, Value& r) { SetTaggedReal(r, Tag::DateTime, std::floor(LocalNowOle())); }
void Time(Vm&, Value*, int, Value& r) {
  const double now = LocalNowOle();
  SetTaggedReal(r, Tag::DateTime, now - std::floor(now));
}

void DayOfWeek(Vm&, Value* a, int, Value& r) { SetInt(r, DayOfWeekOf(a[0].d)); }

void IsLeapYear(Vm&, Value* a, int, Value& r) { SetBool(r, IsLeap(a[0].i)); }

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
  for (char& c : s) c = ToLowerAscii(c);
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
    c = start ? Upper(c) : ToLowerAscii(c);
    start = !letter && c != '\'';
  }
  Result(r, std::move(s));
}

void CompareText(Vm&, Value* a, int, Value& r) {
  const std::string_view x = TextOf(a[0]), y = TextOf(a[1]);
  for (size_t k = 0; k < x.size() && k < y.size(); ++k) {
    const int d = static_cast<unsigned char>(ToLowerAscii(x[k])) -
                  static_cast<unsigned char>(ToLowerAscii(y[k]));
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

void RaiseException(Vm&, Value* a, int, Value&) { Raise(ErrorKind::Custom, Text(a[1])); }

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
  if (name == "ematherror") return bit(ErrorKind::DivByZero) | bit(ErrorKind::Overflow);
  return 0;
}

}  // namespace velkor

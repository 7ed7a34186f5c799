// Day counts are 64-bit, so every double that passes the range check converts without
// overflow, and the civil-date arithmetic needs no tables beyond the month lengths.

#include "model/OleDate.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "model/Error.h"
#include "model/TextUtil.h"

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

// Reads a text field by field; a field of digits is accepted only within its widths.
class FieldReader {
 public:
  explicit FieldReader(std::string_view text) : m_text(text) {}

  bool Digits(size_t minWidth, size_t maxWidth, int& value) {
    size_t width = 0;
    value = 0;
    for (; width < maxWidth && m_pos < m_text.size() && IsAsciiDigit(m_text[m_pos]); ++width)
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

}  // namespace

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool IsOleDateInRange(double oleDate) { return oleDate > kMinOleDate && oleDate < kMaxOleDate; }

double EncodeOleDate(int year, int month, int day, int hour, int minute, int second,
                     int millisecond) {
  const int64_t days = DaysFromCivil(year, month, day) - kOleEpoch;
  const double time = (((hour * 60 + minute) * 60 + second) * 1000.0 + millisecond) / kMsPerDay;
  // Before the epoch the day is negative but its time still counts forward from midnight.
  return days >= 0 ? double(days) + time : double(days) - time;
}

CivilTime DecodeOleDate(double oleDate) {
  if (!IsOleDateInRange(oleDate))
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

double LocalNowOle() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count();
  const std::time_t seconds = std::time_t(ms / 1000);
  std::tm local{};
  localtime_r(&seconds, &local);
  return EncodeOleDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                       local.tm_min, local.tm_sec, int(ms % 1000));
}

std::string FormatDateTime(double oleDate, bool alwaysTime) {
  if (!IsOleDateInRange(oleDate)) return FormatReal(oleDate);
  const CivilTime t = DecodeOleDate(oleDate);
  char buf[80];
  int n = std::snprintf(buf, sizeof buf, "%02d.%02d.%04d", t.day, t.month, t.year);
  if (alwaysTime || t.hour || t.minute || t.second || t.millisecond)
    std::snprintf(buf + n, sizeof buf - n, " %d:%02d:%02d", t.hour, t.minute, t.second);
  return buf;
}

bool ParseDateTime(std::string_view text, double& oleDate) {
  text = TrimBlanks(text);
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

}  // namespace velkor

#pragma once
// Dates as project files, tags and scripts carry them: an OLE date is a double counting
// days since 1899-12-30, its fraction the time of day (before the epoch the fraction still
// counts forward from midnight, so -1.25 is 1899-12-29 06:00). The calendar is the
// proleptic Gregorian one; only years 1..9999 have a text form, as "dd.MM.yyyy" needs.

#include <string>
#include <string_view>

namespace velkor {

struct CivilTime {
  int year, month, day, hour, minute, second, millisecond;
};

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);  // month 1..12

double EncodeOleDate(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                     int millisecond = 0);
// Throws ConversionError for a date outside years 1..9999.
CivilTime DecodeOleDate(double oleDate);
// True for the dates DecodeOleDate accepts.
bool IsOleDateInRange(double oleDate);

// The current local date-time as an OLE date. The wall clock, not the replaceable model
// clock (model/Clock.h): log and trace times must stay real while tests step model time.
double LocalNowOle();

// "dd.MM.yyyy h:mm:ss"; the time is left out at exact midnight unless alwaysTime is set.
// A date outside years 1..9999 is written as its number.
std::string FormatDateTime(double oleDate, bool alwaysTime = false);
// Accepts "dd.MM.yyyy", "dd.MM.yyyy h:mm[:ss[.zzz]]" and "h:mm[:ss[.zzz]]"; false when the
// text is none of these.
bool ParseDateTime(std::string_view text, double& oleDate);

}  // namespace velkor

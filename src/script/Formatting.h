#pragma once
// The text rules of the formatting built-ins, kept apart from the routine table: Format's
// specifiers, FormatFloat's patterns and FormatDateTime's letters. Failures are run-time
// errors of the script (Raise).

#include <string>

#include "model/Variant.h"
#include "script/Value.h"

namespace velkor {

class Vm;

// Format(a[0], [a[1] ... a[argc - 1]]): a[0] the format text, then the arguments.
std::string FormatArgs(Vm& vm, const Value* a, int argc);
std::string FormatFloatText(const std::string& format, double value);
std::string FormatDateText(const std::string& format, double oleDate);

// 1 for Sunday ... 7 for Saturday.
int DayOfWeekOf(double oleDate);
// A date outside the supported years is a conversion error of the script.
CivilTime Decode(double oleDate);

}  // namespace velkor

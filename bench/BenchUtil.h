#pragma once
// Small helpers the benchmarks share.

#include <sys/resource.h>

#include <string>
#include <vector>

namespace velkor {

// prefix + number, appended piecewise: g++ 12 warns falsely (-Wrestrict) on "lit" + string.
inline std::string Named(const char* prefix, int n) {
  std::string name(prefix);
  name += std::to_string(n);
  return name;
}

// User and system time of the whole process so far, in seconds; of its waited-for children
// with RUSAGE_CHILDREN.
inline double CpuSeconds(int who = RUSAGE_SELF) {
  rusage usage{};
  getrusage(who, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The execute text of a typical tag script, about 20 statements: bound variables a
// (Double), b (Integer) and c (Word) in and out, arithmetic, an if, a for of 10 and two
// built-in calls.
inline const std::vector<std::string>& TypicalExecuteText() {
  static const std::vector<std::string> text = {
      "var i, k: Integer; x: Double; t: String;",
      "begin",
      "  k := b * 2 + c;",
      "  x := a * 1.5 + k;",
      "  if x > 100 then",
      "    x := x - 100",
      "  else",
      "    x := x + 1;",
      "  for i := 1 to 10 do",
      "    k := k + i mod 3;",
      "  t := IntToStr(k);",
      "  a := Sqrt(x) + Length(t);",
      "  b := (k + 1) mod 1000;",
      "  c := (c + 1) mod 100;",
      "  self := (self + 1) mod 65000;",
      "  NoReply := self > 65000;",
      "  k := k div 2;",
      "  x := x * 2;",
      "  i := k - b;",
      "  Result := self;",
      "end;",
  };
  return text;
}

}  // namespace velkor

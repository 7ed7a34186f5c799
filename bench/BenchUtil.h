#pragma once
// Small helpers the benchmarks share.

#include <string>

namespace velkor {

// prefix + number, appended piecewise: g++ 12 warns falsely (-Wrestrict) on "lit" + string.
inline std::string Named(const char* prefix, int n) {
  std::string name(prefix);
  name += std::to_string(n);
  return name;
}

}  // namespace velkor

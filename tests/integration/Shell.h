#pragma once
// Running the real masters: a command's standard output and error, and whether a tool is
// installed.

#include <array>
#include <cstdio>
#include <memory>
#include <string>

namespace velkor {

inline std::string Shell(const std::string& command) {
  std::string out;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen((command + " 2>&1").c_str(), "r"), pclose);
  if (!pipe) return "popen failed";
  std::array<char, 512> buf;
  while (fgets(buf.data(), int(buf.size()), pipe.get())) out += buf.data();
  return out;
}

inline bool Have(const std::string& tool) {
  return Shell("command -v " + tool).find('/') != std::string::npos;
}

}  // namespace velkor

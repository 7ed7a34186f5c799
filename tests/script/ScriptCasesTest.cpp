// Every .ps file under cases/ is one test: its "// expect: text" lines are the ShowMessage
// lines it must print, in order, and an "// expect error: text" line a text that the
// compile or run-time error report ("line:column: message" or "line: message") must hold.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "script/ScriptRunner.h"

namespace velkor {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> CaseFiles() {
  std::vector<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(VELKOR_SCRIPT_CASES))
    if (entry.is_regular_file() && entry.path().extension() == ".ps")
      files.push_back(fs::relative(entry.path(), VELKOR_SCRIPT_CASES).string());
  std::sort(files.begin(), files.end());
  return files;
}

struct Expectations {
  std::vector<std::string> lines;
  std::string error;
};

Expectations Read(const std::string& path) {
  Expectations e;
  std::ifstream file(path);
  for (std::string line; std::getline(file, line);) {
    const std::string output = "// expect: ";
    const std::string error = "// expect error: ";
    size_t at = line.find(output);
    if (at != std::string::npos) e.lines.push_back(line.substr(at + output.size()));
    at = line.find(error);
    if (at != std::string::npos) e.error = line.substr(at + error.size());
  }
  return e;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class ScriptCase : public testing::TestWithParam<std::string> {};

TEST_P(ScriptCase, PrintsWhatItExpects) {
  const std::string path = std::string(VELKOR_SCRIPT_CASES) + "/" + GetParam();
  const Expectations expected = Read(path);
  std::ostringstream out, err;
  const int status = RunScriptFile(path, out, err);
  EXPECT_EQ(Lines(out.str()), expected.lines) << err.str();
  if (expected.error.empty()) {
    EXPECT_EQ(status, kRunOk) << err.str();
  } else {
    EXPECT_NE(status, kRunOk);
    EXPECT_NE(err.str().find(expected.error), std::string::npos)
        << "error report: " << err.str() << "expected to contain: " << expected.error;
  }
}

std::string CaseName(const testing::TestParamInfo<std::string>& info) {
  std::string name = info.param.substr(0, info.param.size() - 3);
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Cases, ScriptCase, testing::ValuesIn(CaseFiles()), CaseName);

}  // namespace
}  // namespace velkor

#pragma once
// Shared by the runtime tests: a private temporary directory per test, file helpers, and
// the one way tests wait for another thread (polling against a deadline, never sleeping a
// guessed time).

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../TestUtil.h"

namespace velkor::testing {

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// The lines of a file; a last piece without a line end (a line cut short) is left out.
inline std::vector<std::string> ReadLines(const std::filesystem::path& path) {
  const std::string text = ReadFile(path);
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

// File names in dir, sorted.
inline std::vector<std::string> FileNames(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "velkor-rt-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    m_dir = pattern;
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
  }
  const std::filesystem::path& Dir() const { return m_dir; }

 private:
  std::filesystem::path m_dir;
};

}  // namespace velkor::testing

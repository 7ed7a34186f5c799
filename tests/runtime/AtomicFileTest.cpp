#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "RuntimeFixture.h"
#include "model/Error.h"
#include "runtime/AtomicFile.h"

namespace velkor {
namespace {

namespace fs = std::filesystem;
using testing::FileNames;
using testing::ReadFile;

class AtomicFileTest : public testing::TempDirTest {
 protected:
  std::string Path(const char* name) const { return (Dir() / name).string(); }
  void WriteOld(const std::string& path) { std::ofstream(path, std::ios::binary) << "old"; }
};

TEST_F(AtomicFileTest, ReplacesTheContentAndLeavesNoTemporaryFile) {
  const std::string path = Path("f.txt");
  WriteOld(path);
  WriteFileAtomically(path, std::string("new\0text", 8));
  EXPECT_EQ(ReadFile(path), std::string("new\0text", 8));
  WriteFileAtomically(path, "");
  EXPECT_EQ(ReadFile(path), "");
  EXPECT_EQ(FileNames(Dir()), std::vector<std::string>{"f.txt"});
}

TEST_F(AtomicFileTest, PiecesBecomeTheFileOnlyAtCommit) {
  const std::string path = Path("f.txt");
  WriteOld(path);
  {
    AtomicFile file(path);
    file.Write("ab", 2);
    EXPECT_EQ(ReadFile(path), "old");
    file.Write("cd", 2);
    file.Commit();
  }
  EXPECT_EQ(ReadFile(path), "abcd");
  {
    AtomicFile abandoned(path);  // e.g. the producer threw
    abandoned.Write("xyz", 3);
  }
  EXPECT_EQ(ReadFile(path), "abcd");
  EXPECT_EQ(FileNames(Dir()), std::vector<std::string>{"f.txt"});
}

// Each case leaves the directory as it was and reports the system's reason with the path
// the caller gave.
struct FailureCase {
  const char* name;
  std::function<std::string(const fs::path& dir)> prepare;  // returns the target
  int error;
};

class AtomicFileFailureTest : public AtomicFileTest,
                              public ::testing::WithParamInterface<FailureCase> {};

TEST_P(AtomicFileFailureTest, ChangesNothing) {
  const std::string path = GetParam().prepare(Dir());
  const std::vector<std::string> before = FileNames(Dir());
  std::string message = "(no error)";
  try {
    WriteFileAtomically(path, "new");
  } catch (const VelkorError& e) {
    message = e.what();
  }
  EXPECT_EQ(message, "Не удалось записать файл " + path + ": " + std::strerror(GetParam().error));
  EXPECT_EQ(FileNames(Dir()), before);
}

INSTANTIATE_TEST_SUITE_P(
    Targets, AtomicFileFailureTest,
    ::testing::Values(FailureCase{"MissingDirectory",
                                  [](const fs::path& d) { return (d / "нет/f.txt").string(); },
                                  ENOENT},
                      FailureCase{"TargetIsADirectory",
                                  [](const fs::path& d) {
                                    fs::create_directories(d / "каталог/внутри");
                                    return (d / "каталог").string();
                                  },
                                  EISDIR}),
    [](const auto& info) { return info.param.name; });

TEST_F(AtomicFileTest, ReadOnlyDirectoryKeepsTheOldFile) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only directories";
  const std::string path = Path("f.txt");
  WriteOld(path);
  fs::permissions(Dir(), fs::perms::owner_read | fs::perms::owner_exec);
  std::string message;
  try {
    WriteFileAtomically(path, "new");
  } catch (const VelkorError& e) {
    message = e.what();
  }
  fs::permissions(Dir(), fs::perms::owner_all);
  EXPECT_EQ(message, "Не удалось записать файл " + path + ": " + std::strerror(EACCES));
  EXPECT_EQ(ReadFile(path), "old");
  EXPECT_EQ(FileNames(Dir()), std::vector<std::string>{"f.txt"});
}

// A write that fails half way (a full disk; here a file size limit, which binds root too)
// must not reach the target.
TEST_F(AtomicFileTest, FailedWriteKeepsTheOldFile) {
  const std::string path = Path("f.txt");
  WriteOld(path);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = 100;
  auto* previousHandler = signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &small);
  std::string message;
  try {
    WriteFileAtomically(path, std::string(1000, 'x'));
  } catch (const VelkorError& e) {
    message = e.what();
  }
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, previousHandler);
  EXPECT_EQ(message, "Не удалось записать файл " + path + ": " + std::strerror(EFBIG));
  EXPECT_EQ(ReadFile(path), "old");
  EXPECT_EQ(FileNames(Dir()), std::vector<std::string>{"f.txt"});
}

}  // namespace
}  // namespace velkor

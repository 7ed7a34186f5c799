#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cctype>
#include <cstdio>
#include <stdexcept>
#include <string_view>
#include <thread>

#include "RuntimeFixture.h"
#include "model/Error.h"
#include "model/OleDate.h"
#include "runtime/CrashReport.h"
#include "runtime/Log.h"
#include "runtime/ThreadSafeLog.h"

namespace velkor {
namespace {

namespace fs = std::filesystem;
using testing::FileNames;
using testing::ReadFile;
using testing::ReadLines;
using testing::WaitUntil;

// ---- The locked queue --------------------------------------------------------------------

struct CapCase {
  size_t capacity;
  int added;
  size_t kept;
};

class ThreadSafeLogCapTest : public ::testing::TestWithParam<CapCase> {};

TEST_P(ThreadSafeLogCapTest, KeepsTheNewestAndCountsEveryAdd) {
  const CapCase c = GetParam();
  TThreadSafeLog log(c.capacity);
  for (int i = 0; i < c.added; ++i) log.Add(std::to_string(i));
  EXPECT_EQ(log.Count(), c.kept);
  EXPECT_EQ(log.TotalAdded(), uint64_t(c.added));
  TLogRecord first, last;
  ASSERT_TRUE(log.Items(0, first));
  ASSERT_TRUE(log.Items(c.kept - 1, last));
  EXPECT_FALSE(log.Items(c.kept, last));
  EXPECT_EQ(first.Text, std::to_string(c.added - int(c.kept)));
  EXPECT_EQ(last.Text, std::to_string(c.added - 1));
}

INSTANTIATE_TEST_SUITE_P(Caps, ThreadSafeLogCapTest,
                         ::testing::Values(CapCase{1000, 2500, 1000}, CapCase{1000, 999, 999},
                                           CapCase{1, 3, 1}, CapCase{0, 1500, 1500}));

TEST(ThreadSafeLogTest, SinceSkipsDroppedRecordsAndAdvances) {
  TThreadSafeLog log(1000);
  for (int i = 0; i < 2500; ++i) log.Add(std::to_string(i));
  uint64_t cursor = 0;
  std::vector<TLogRecord> got = log.Since(cursor);
  ASSERT_EQ(got.size(), 1000u);
  EXPECT_EQ(got.front().Text, "1500");
  EXPECT_EQ(cursor, 2500u);

  log.Add("a");
  log.Add("b");
  got = log.Since(cursor);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].Text, "a");
  EXPECT_EQ(got[1].Text, "b");
  EXPECT_TRUE(log.Since(cursor).empty());

  // A cursor inside the kept range gives exactly what came after it.
  uint64_t middle = 2400;
  got = log.Since(middle);
  ASSERT_EQ(got.size(), 102u);
  EXPECT_EQ(got.front().Text, "2400");

  log.Clear();
  EXPECT_EQ(log.TotalAdded(), 2502u);
  EXPECT_TRUE(log.Since(cursor).empty());
  log.Add("c");
  got = log.Since(cursor);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].Text, "c");

  EXPECT_EQ(log.TakeAll().size(), 1u);
  EXPECT_EQ(log.Count(), 0u);
  EXPECT_EQ(log.TotalAdded(), 2503u);
}

// ---- Line format -------------------------------------------------------------------------

struct LineCase {
  int year, month, day, hour, minute, second, millisecond;
  const char* expected;
};

class FormatLogLineTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(FormatLogLineTest, PadsAllButTheMilliseconds) {
  const LineCase c = GetParam();
  const double t = EncodeOleDate(c.year, c.month, c.day, c.hour, c.minute, c.second, c.millisecond);
  EXPECT_EQ(FormatLogLine(t, "text"), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, FormatLogLineTest,
    ::testing::Values(LineCase{2024, 12, 9, 14, 3, 7, 5, "09.12.2024 14:03:07.5 - text"},
                      LineCase{2025, 1, 1, 0, 0, 0, 0, "01.01.2025 00:00:00.0 - text"},
                      LineCase{2025, 1, 1, 9, 5, 3, 120, "01.01.2025 09:05:03.120 - text"},
                      LineCase{2024, 2, 29, 23, 59, 59, 999, "29.02.2024 23:59:59.999 - text"}));

// ---- The program log ---------------------------------------------------------------------

std::string Today() {
  const CivilTime t = DecodeOleDate(LocalNowOle());
  char date[16];
  std::snprintf(date, sizeof date, "%02d.%02d.%04d", t.day, t.month, t.year);
  return date;
}

// The text after "<time> - ", or the whole line marked bad when it has no valid time prefix.
std::string TextOf(const std::string& line) {
  // "dd.dd.dddd dd:dd:dd." then one to three digits and " - ".
  static constexpr std::string_view kShape = "dd.dd.dddd dd:dd:dd.";
  bool ok = line.size() > kShape.size();
  for (size_t i = 0; ok && i < kShape.size(); ++i)
    ok = kShape[i] == 'd' ? std::isdigit(static_cast<unsigned char>(line[i])) != 0
                          : line[i] == kShape[i];
  size_t digits = 0;
  while (ok && kShape.size() + digits < line.size() &&
         std::isdigit(static_cast<unsigned char>(line[kShape.size() + digits])))
    ++digits;
  const size_t text = kShape.size() + digits + 3;
  ok = ok && digits >= 1 && digits <= 3 && line.compare(text - 3, 3, " - ") == 0;
  return ok ? line.substr(text) : "<bad line> " + line;
}

std::vector<std::string> TextsOf(const fs::path& file) {
  std::vector<std::string> texts;
  for (const std::string& line : ReadLines(file)) texts.push_back(TextOf(line));
  return texts;
}

class LogTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    m_today = Today();
  }
  void TearDown() override {
    LogStop();
    TempDirTest::TearDown();
  }
  // Tests that name files by date give up across midnight.
  bool DayChanged() const { return Today() != m_today; }
  fs::path File(int n) const { return Dir() / (m_today + "_" + std::to_string(n) + ".txt"); }
  size_t LinesIn(int n) const { return ReadLines(File(n)).size(); }

 private:
  std::string m_today;
};

TEST_F(LogTest, EachStartOpensTheNextFreeFile) {
  LogMessage("before start");
  LogStart(Dir().string());
  LogStart((Dir() / "elsewhere").string());
  EXPECT_EQ(LogDirectory(), Dir().string());
  LogMessage("first");
  LogStop();
  EXPECT_EQ(LogDirectory(), "");
  LogMessage("after stop");
  LogStart(Dir().string());
  LogMessage("second");
  LogStop();
  if (DayChanged()) GTEST_SKIP() << "the date changed";

  EXPECT_EQ(FileNames(Dir()),
            (std::vector<std::string>{File(1).filename().string(), File(2).filename().string()}));
  EXPECT_EQ(TextsOf(File(1)), std::vector<std::string>{"first"});
  EXPECT_EQ(TextsOf(File(2)), std::vector<std::string>{"second"});
}

TEST_F(LogTest, KeepsEveryLineOfEveryThreadInOrder) {
  constexpr int kThreads = 4, kLines = 2500;
  LogStart(Dir().string());
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i)
        LogMessage("t" + std::to_string(t) + " " + std::to_string(i));
    });
  for (auto& t : threads) t.join();
  LogStop();
  if (DayChanged()) GTEST_SKIP() << "the date changed";

  std::vector<int> next(kThreads, 0);
  int total = 0;
  for (const std::string& text : TextsOf(File(1))) {
    int thread = -1, index = -1;
    ASSERT_EQ(std::sscanf(text.c_str(), "t%d %d", &thread, &index), 2) << text;
    ASSERT_TRUE(thread >= 0 && thread < kThreads) << text;
    ASSERT_EQ(index, next[thread]) << text;
    ++next[thread];
    ++total;
  }
  EXPECT_EQ(total, kThreads * kLines);
}

TEST_F(LogTest, RollsOverAfterAMegaCharacterCountingCharactersNotBytes) {
  // 100,000 two-byte characters a line: ten lines pass the limit in bytes, not in characters.
  std::string wide;
  for (int i = 0; i < 100000; ++i) wide += "ж";
  LogStart(Dir().string());
  for (int i = 0; i < 10; ++i) LogMessage(wide);
  ASSERT_TRUE(WaitUntil([&] { return LinesIn(1) == 10; }));
  LogMessage("still in the first file");
  LogMessage(wide);
  ASSERT_TRUE(WaitUntil([&] { return LinesIn(1) == 12; }));
  LogMessage("in the second file");
  LogStop();
  if (DayChanged()) GTEST_SKIP() << "the date changed";

  const std::vector<std::string> first = TextsOf(File(1));
  ASSERT_EQ(first.size(), 12u);
  EXPECT_EQ(first[10], "still in the first file");
  EXPECT_EQ(first[11], wide);
  EXPECT_EQ(TextsOf(File(2)), std::vector<std::string>{"in the second file"});
}

// Lowers the process's file size limit, so that writes past it fail (EFBIG) as they would on
// a full disk, and puts it back whatever happens.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &m_old);
    m_oldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit low = m_old;
    low.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &low);
  }
  ~FileSizeLimit() { Lift(); }
  void Lift() {
    if (m_lifted) return;
    setrlimit(RLIMIT_FSIZE, &m_old);
    signal(SIGXFSZ, m_oldHandler);
    m_lifted = true;
  }

 private:
  rlimit m_old{};
  sighandler_t m_oldHandler{};
  bool m_lifted = false;
};

TEST_F(LogTest, WriteErrorMovesTheUnwrittenLinesToANewFile) {
  LogStart(Dir().string());
  std::vector<std::string> lines;
  for (char c = 'a'; c <= 'd'; ++c) lines.push_back(std::string(40000, c));
  {
    // The third line crosses the limit partway.
    FileSizeLimit limit(100000);
    for (const std::string& line : lines) LogMessage(line);
    ASSERT_TRUE(WaitUntil([&] { return LinesIn(2) >= 3; }));
  }
  lines.push_back("after the fault");
  LogMessage(lines.back());
  LogStop();
  if (DayChanged()) GTEST_SKIP() << "the date changed";

  std::vector<std::string> second = TextsOf(File(2));
  ASSERT_FALSE(second.empty());
  EXPECT_NE(second[0].find(File(1).string() + " не удалась"), std::string::npos) << second[0];
  second.erase(second.begin());
  std::vector<std::string> all = TextsOf(File(1));
  all.insert(all.end(), second.begin(), second.end());
  EXPECT_EQ(all, lines);
  EXPECT_EQ(FileNames(Dir()).size(), 2u);
}

// ---- Where the log goes ------------------------------------------------------------------

enum class Exe { Writable, IsAFile, LogsIsAFile };

struct PlaceCase {
  const char* name;
  Exe exe;
  const char* xdg;   // relative to the test directory unless it is "rel/..."; "" unset
  const char* home;  // relative to the test directory; "" unset
  const char* expected;
  bool fellBack;
};

class ResolveLogDirectoryTest : public testing::TempDirTest,
                                public ::testing::WithParamInterface<PlaceCase> {};

TEST_P(ResolveLogDirectoryTest, PicksTheFirstUsablePlace) {
  const PlaceCase c = GetParam();
  const fs::path exeDir = Dir() / "app";
  if (c.exe == Exe::IsAFile) {
    std::ofstream(exeDir.string()) << "x";
  } else {
    fs::create_directories(exeDir);
    if (c.exe == Exe::LogsIsAFile) std::ofstream((exeDir / "logs").string()) << "x";
  }
  const auto under = [&](const std::string& p) {
    return p.empty() || p.starts_with("rel/") ? p : (Dir() / p).string();
  };
  const LogPlace place = ResolveLogDirectory(exeDir.string(), under(c.xdg), under(c.home));
  EXPECT_EQ(place.dir, (Dir() / c.expected).string());
  EXPECT_TRUE(fs::is_directory(place.dir));
  if (c.fellBack) {
    EXPECT_TRUE(place.note.starts_with("Журнал ведётся в " + place.dir + ": каталог " +
                                       (exeDir / "logs").string() + " недоступен ("))
        << place.note;
  } else {
    EXPECT_EQ(place.note, "");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Places, ResolveLogDirectoryTest,
    ::testing::Values(
        PlaceCase{"BesideTheProgram", Exe::Writable, "state", "home", "app/logs", false},
        PlaceCase{"StateHome", Exe::IsAFile, "state", "home", "state/velkor/logs", true},
        PlaceCase{"LogsTaken", Exe::LogsIsAFile, "state", "", "state/velkor/logs", true},
        PlaceCase{"HomeWithoutStateHome", Exe::IsAFile, "", "home", "home/.local/state/velkor/logs",
                  true},
        PlaceCase{"RelativeStateHomeIgnored", Exe::IsAFile, "rel/state", "home",
                  "home/.local/state/velkor/logs", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LogTest, FallBackNoteOpensEveryFile) {
  std::ofstream((Dir() / "app").string()) << "not a directory";
  const LogPlace place = ResolveLogDirectory((Dir() / "app").string(), Dir().string(), "");
  for (const char* text : {"one", "two"}) {
    LogStartIn(place);
    LogMessage(text);
    LogStop();
  }
  int files = 0;
  for (const std::string& name : FileNames(place.dir)) {
    const std::vector<std::string> texts = TextsOf(fs::path(place.dir) / name);
    ASSERT_EQ(texts.size(), 2u) << name;
    EXPECT_EQ(texts[0], place.note);
    EXPECT_EQ(texts[1], files == 0 ? "one" : "two");
    ++files;
  }
  EXPECT_EQ(files, 2);
}

// ---- Crash reports -----------------------------------------------------------------------

std::string CrashText(const fs::path& dir) {
  std::string text;
  for (const std::string& name : FileNames(dir))
    if (name.starts_with("crash-") && name.ends_with(".txt")) text += ReadFile(dir / name);
  return text;
}

TEST_F(LogTest, CrashReportNamesThreadAndMessage) {
  LogStart(Dir().string());
  ReportCrash("Server 7", "the socket vanished");
  ReportCrash("Update", "second report");
  const std::string text = CrashText(Dir());
  const size_t first = text.find(" [Server 7] the socket vanished\n");
  EXPECT_NE(first, std::string::npos) << text;
  EXPECT_GT(text.find(" [Update] second report\n"), first) << text;
}

TEST(CrashReportTest, CurrentExceptionMessage) {
  const auto messageOf = [](auto thrown) {
    try {
      throw thrown;
    } catch (...) {
      return CurrentExceptionMessage();
    }
  };
  EXPECT_EQ(messageOf(std::runtime_error("lost")), "lost");
  EXPECT_EQ(messageOf(VelkorError("Недопустимая дата")), "Недопустимая дата");
  EXPECT_EQ(messageOf(42), "unknown exception");
  EXPECT_EQ(CurrentExceptionMessage(), "unknown exception");
}

TEST_F(LogTest, TerminateWritesAReportBeforeAborting) {
  GTEST_FLAG_SET(death_test_style, "fast");  // the child must see this test's directory
  EXPECT_DEATH(
      {
        InstallCrashHandler();
        LogStart(Dir().string());
        try {
          throw std::logic_error("invariant broken");
        } catch (...) {
          std::terminate();
        }
      },
      "invariant broken");
  EXPECT_NE(CrashText(Dir()).find("std::terminate: invariant broken\n"), std::string::npos);
}

}  // namespace
}  // namespace velkor

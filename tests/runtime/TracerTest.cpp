#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "RuntimeFixture.h"
#include "model/OleDate.h"
#include "runtime/Tracer.h"

namespace velkor {
namespace {

using testing::kDeadline;
using testing::ReadLines;
using testing::WaitUntil;

// A frame that carries its number in its first four bytes.
std::vector<uint8_t> Frame(uint32_t id, size_t length = 8) {
  std::vector<uint8_t> bytes(length);
  for (size_t i = 0; i < length; ++i) bytes[i] = uint8_t(i < 4 ? id >> (8 * i) : i);
  return bytes;
}

uint32_t IdOf(const TTraceUnit& unit) {
  return uint32_t(unit.Data[0]) | uint32_t(unit.Data[1]) << 8 | uint32_t(unit.Data[2]) << 16 |
         uint32_t(unit.Data[3]) << 24;
}

void Trace(uint32_t id, const TraceSource& source = {}) {
  const std::vector<uint8_t> bytes = Frame(id);
  AddTrace(bytes.data(), bytes.size(), source, kTraceReceived);
}

// What the viewer was handed, in order.
class Seen {
 public:
  TTracer::Viewer Viewer() {
    return [this](const std::shared_ptr<const TTraceUnit>& unit) {
      std::lock_guard<std::mutex> lock(m_lock);
      m_units.push_back(unit);
    };
  }
  size_t Count() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_units.size();
  }
  std::vector<std::shared_ptr<const TTraceUnit>> Units() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_units;
  }
  std::vector<uint32_t> Ids() const {
    std::vector<uint32_t> ids;
    for (const auto& unit : Units()) ids.push_back(IdOf(*unit));
    return ids;
  }

 private:
  mutable std::mutex m_lock;
  std::vector<std::shared_ptr<const TTraceUnit>> m_units;
};

class TracerTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    m_tracer = std::make_unique<TTracer>();
    SetTracer(m_tracer.get());
  }
  void TearDown() override {
    m_tracer.reset();
    TempDirTest::TearDown();
  }
  TTracer& Tracer() { return *m_tracer; }
  void DestroyTracer() { m_tracer.reset(); }

  Seen seen;  // outlives the tracer thread, which may still be handing records over
  // Waits for a marker frame: the viewer gets frames in order, so every frame traced before
  // it has been handed over too, and nothing more can follow for them.
  bool Settle(uint32_t marker) {
    Trace(marker);
    return WaitUntil([&] { return !seen.Ids().empty() && seen.Ids().back() == marker; });
  }

 private:
  std::unique_ptr<TTracer> m_tracer;
};

TEST_F(TracerTest, RecordsAndSavesOnlyWhileEnabled) {
  Tracer().SetOnTrace(seen.Viewer());
  Tracer().FileName = (Dir() / "missing" / "trace.txt").string();
  Tracer().SetSaveToFile(true);
  EXPECT_FALSE(Tracer().SaveToFile());
  const auto file = Dir() / "trace.txt";
  Tracer().FileName = file.string();
  Tracer().SetSaveToFile(true);
  EXPECT_TRUE(Tracer().SaveToFile());

  Trace(1);
  const std::vector<uint8_t> bytes = Frame(2);
  Tracer().AddTrace(bytes.data(), bytes.size(), {}, kTraceSent);
  EXPECT_FALSE(g_tracing.load());
  EXPECT_EQ(Tracer().RecordCount(), 0u);
  EXPECT_TRUE(ReadLines(file).empty());

  Tracer().SetEnabled(true);
  EXPECT_TRUE(g_tracing.load());
  int server = 0;
  Trace(3, {TraceSource::Kind::Rtu, &server});
  Trace(4);
  ASSERT_TRUE(WaitUntil([&] { return seen.Count() == 2; }));
  const auto units = seen.Units();
  EXPECT_EQ(units[0]->Connection.kind, TraceSource::Kind::Rtu);
  EXPECT_EQ(units[0]->Connection.server, &server);
  EXPECT_EQ(units[0]->Direction, kTraceReceived);
  // The local time and the UTC microseconds name the same moment, to the millisecond.
  for (const auto& unit : units)
    EXPECT_NEAR(unit->Time, LocalOleOfUnixMs(unit->TimeUs / 1000), 1e-9) << unit->TimeUs;
  EXPECT_EQ(ReadLines(file), (std::vector<std::string>{units[0]->ToText(), units[1]->ToText()}));

  Tracer().SetSaveToFile(false);
  Trace(5);
  Tracer().SetEnabled(false);
  EXPECT_FALSE(g_tracing.load());
  Trace(6);
  EXPECT_EQ(Tracer().RecordCount(), 3u);
  EXPECT_EQ(ReadLines(file).size(), 2u);
}

TEST_F(TracerTest, TracingFlagFollowsRegistrationAndEnabling) {
  Tracer().SetEnabled(true);
  EXPECT_TRUE(g_tracing.load());
  SetTracer(nullptr);
  EXPECT_FALSE(g_tracing.load());
  Tracer().SetEnabled(false);
  Tracer().SetEnabled(true);
  EXPECT_FALSE(g_tracing.load());  // enabled but not the program's tracer
  SetTracer(&Tracer());
  EXPECT_TRUE(g_tracing.load());
  DestroyTracer();
  EXPECT_EQ(velkor::Tracer(), nullptr);
  EXPECT_FALSE(g_tracing.load());
  Trace(1);  // reaches no tracer
}

TEST_F(TracerTest, ViewerGetsEveryRecordOnceInOrder) {
  constexpr int kThreads = 4, kFrames = 250;
  Tracer().SetDepth(0);
  Tracer().SetOnTrace(seen.Viewer());
  Tracer().SetEnabled(true);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < kFrames; ++i) Trace(uint32_t(t * kFrames + i));
    });
  for (auto& t : threads) t.join();
  constexpr uint32_t kMarker = 1u << 30;
  ASSERT_TRUE(Settle(kMarker));

  std::vector<int> next(kThreads, 0);
  const std::vector<uint32_t> ids = seen.Ids();
  ASSERT_EQ(ids.size(), size_t(kThreads * kFrames + 1));
  for (size_t i = 0; i + 1 < ids.size(); ++i) {
    const int thread = int(ids[i]) / kFrames;
    ASSERT_EQ(int(ids[i]) % kFrames, next[thread]++) << "frame " << ids[i];
  }
  EXPECT_EQ(Tracer().RecordCount(), ids.size());
}

TEST_F(TracerTest, DepthKeepsTheNewestRecords) {
  Tracer().SetOnTrace(seen.Viewer());
  Tracer().SetDepth(100);
  Tracer().SetEnabled(true);
  {
    // Holding the list keeps the tracer thread out until all 250 are in (added straight to
    // the tracer: the registry lock comes before the list lock).
    LockGuard hold(Tracer().ThreadLock());
    for (uint32_t i = 0; i < 250; ++i) {
      const std::vector<uint8_t> bytes = Frame(i);
      Tracer().AddTrace(bytes.data(), bytes.size(), {}, kTraceReceived);
    }
  }
  ASSERT_TRUE(WaitUntil([&] { return seen.Count() >= 100; }));
  std::vector<uint32_t> expected;
  for (uint32_t i = 150; i < 250; ++i) expected.push_back(i);
  EXPECT_EQ(seen.Ids(), expected);
  ASSERT_TRUE(Settle(1000));
  EXPECT_EQ(Tracer().RecordCount(), 100u);
}

TEST_F(TracerTest, ALongFrameKeepsItsLengthAndThreeHundredBytes) {
  Tracer().SetOnTrace(seen.Viewer());
  Tracer().SetEnabled(true);
  const std::vector<uint8_t> bytes = Frame(7, 400);
  AddTrace(bytes.data(), bytes.size(), {}, kTraceSent);
  ASSERT_TRUE(WaitUntil([&] { return seen.Count() == 1; }));
  const TTraceUnit& unit = *seen.Units()[0];
  EXPECT_EQ(unit.Length, 400u);
  EXPECT_EQ(unit.Direction, kTraceSent);
  EXPECT_TRUE(std::equal(unit.Data, unit.Data + TTraceUnit::kKeep, bytes.begin()));
  const std::string text = unit.ToText();
  const std::string hex = text.substr(text.find(" - 400 - ") + 9);
  EXPECT_EQ(hex.size(), TTraceUnit::kKeep * 3 - 1);
  EXPECT_TRUE(hex.ends_with("2B"));  // byte 299
}

TEST_F(TracerTest, ASlowViewerDoesNotHoldUpTheServingThreads) {
  Event entered(Event::Reset::Manual), release(Event::Reset::Manual);
  std::atomic<int> viewed{0};
  Tracer().SetOnTrace([&](const std::shared_ptr<const TTraceUnit>&) {
    entered.Set();
    release.Wait(kDeadline);
    ++viewed;
  });
  Tracer().SetEnabled(true);
  Trace(0);
  ASSERT_TRUE(entered.Wait(kDeadline));
  auto serving = std::async(std::launch::async, [] {
    for (uint32_t i = 1; i <= 100; ++i) Trace(i);
  });
  const bool returned = serving.wait_for(kDeadline) == std::future_status::ready;
  release.Set();
  EXPECT_TRUE(returned);
  EXPECT_TRUE(WaitUntil([&] { return viewed == 101; }));
  DestroyTracer();  // before the events the viewer waits on go
}

struct TextCase {
  std::vector<uint8_t> bytes;
  double time;
  const char* expected;
};

class TraceTextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(TraceTextTest, TimeLengthAndHexBytes) {
  const TextCase& c = GetParam();
  TTraceUnit unit;
  unit.Length = uint32_t(c.bytes.size());
  std::copy(c.bytes.begin(), c.bytes.end(), unit.Data);
  unit.Time = c.time;
  EXPECT_EQ(unit.ToText(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TraceTextTest,
    ::testing::Values(
        TextCase{{0x00, 0x01, 0x00, 0x00, 0x00, 0x06, 0x01, 0x03, 0x00, 0x00, 0x00, 0x0A},
                 EncodeOleDate(2024, 12, 9, 14, 3, 7, 5),
                 "09.12.2024 14:03:07 - 12 - 00 01 00 00 00 06 01 03 00 00 00 0A"},
        TextCase{{0xFF, 0xab}, EncodeOleDate(2025, 1, 1), "01.01.2025 0:00:00 - 2 - FF AB"},
        TextCase{{}, EncodeOleDate(2025, 3, 4, 9, 5, 3), "04.03.2025 9:05:03 - 0 - "}));

}  // namespace
}  // namespace velkor

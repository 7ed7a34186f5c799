#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

#include "RuntimeFixture.h"
#include "runtime/AuxilThread.h"
#include "runtime/Event.h"
#include "runtime/Log.h"

namespace velkor {
namespace {

using namespace std::chrono_literals;
using testing::kDeadline;
using testing::WaitUntil;

TEST(EventTest, AutoResetLetsOneWaitThroughPerSet) {
  Event event(Event::Reset::Auto);
  EXPECT_FALSE(event.Wait(10ms));
  event.Set();
  EXPECT_TRUE(event.Wait(0ms));
  EXPECT_FALSE(event.Wait(0ms));

  std::atomic<int> passed{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 2; ++i) waiters.emplace_back([&] { passed += event.Wait(kDeadline); });
  event.Set();
  ASSERT_TRUE(WaitUntil([&] { return passed == 1; }));
  // The waiter that got through cleared the event, so the other one is still held.
  EXPECT_FALSE(event.IsSet());
  event.Set();
  for (auto& t : waiters) t.join();
  EXPECT_EQ(passed, 2);
}

TEST(EventTest, ManualResetReleasesEveryWaiterUntilReset) {
  Event event(Event::Reset::Manual);
  std::atomic<int> passed{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i) waiters.emplace_back([&] { passed += event.Wait(kDeadline); });
  event.Set();
  for (auto& t : waiters) t.join();
  EXPECT_EQ(passed, 3);
  EXPECT_TRUE(event.Wait(0ms));
  event.ResetEvent();
  EXPECT_FALSE(event.Wait(10ms));
  EXPECT_TRUE(Event(Event::Reset::Manual, true).IsSet());
}

// Counts steps while running and idle time-outs while paused, so a test can tell that the
// worker has settled into its paused state instead of guessing a delay.
class Stepper : public TAuxilThread {
 public:
  explicit Stepper(std::string name = "Stepper") : TAuxilThread(std::move(name)) {}
  ~Stepper() override { StopThread(); }
  void StopThread() override {
    Halt();
    WakeEvent.Set();
    WaitFor();
  }

  std::atomic<bool> executed{false};
  std::atomic<int> steps{0};
  std::atomic<int> idle{0};
  std::string osName;  // written by the worker before its first step

 protected:
  void Execute() override {
    char name[32] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    osName = name;
    executed = true;
    while (!Terminated()) {
      if (RunEvent.Wait(5ms))
        ++steps;
      else
        ++idle;
    }
  }
};

TEST(AuxilThreadTest, NeverActivatedWorkerEndsAtOnce) {
  Stepper worker;
  EXPECT_TRUE(worker.Paused());
  worker.Halt();
  worker.WaitFor();
  worker.WaitFor();
  EXPECT_TRUE(worker.Terminated());
  // A halted worker stays ended: a late Activate must not start a thread nobody will stop.
  worker.Activate();
  worker.WaitFor();
  EXPECT_FALSE(worker.executed);
}

TEST(AuxilThreadTest, ActivateRunsAndPauseStopsTheWork) {
  Stepper worker;
  worker.Activate();
  EXPECT_FALSE(worker.Paused());
  ASSERT_TRUE(WaitUntil([&] { return worker.steps > 0; }));

  worker.Pause();
  EXPECT_TRUE(worker.Paused());
  int idle = worker.idle;
  ASSERT_TRUE(WaitUntil([&] { return worker.idle >= idle + 2; }));
  const int steps = worker.steps;
  idle = worker.idle;
  ASSERT_TRUE(WaitUntil([&] { return worker.idle >= idle + 3; }));
  EXPECT_EQ(worker.steps, steps);

  worker.Activate();
  ASSERT_TRUE(WaitUntil([&] { return worker.steps > steps; }));
  worker.StopThread();
  worker.StopThread();
  EXPECT_TRUE(worker.Terminated());
}

TEST(AuxilThreadTest, OsThreadNameKeepsFifteenCharacters) {
  Stepper worker("ModbusTcpServer#12");
  worker.Activate();
  ASSERT_TRUE(WaitUntil([&] { return worker.executed.load(); }));
  worker.StopThread();
  EXPECT_EQ(worker.osName, "ModbusTcpServer");
}

class Sleeper : public TAuxilThread {
 public:
  Sleeper() : TAuxilThread("Sleeper") {}
  ~Sleeper() override { StopThread(); }
  void StopThread() override {
    Halt();
    WakeEvent.Set();
    WaitFor();
  }
  std::atomic<bool> asleep{false};

 protected:
  void Execute() override {
    while (!Terminated()) {
      if (!RunEvent.Wait(5ms)) continue;
      asleep = true;
      WakeEvent.Wait(std::chrono::seconds(30));  // a blocking step, like a reply delay
    }
  }
};

TEST(AuxilThreadTest, StopThreadCutsABlockingStepShort) {
  Sleeper worker;
  worker.Activate();
  ASSERT_TRUE(WaitUntil([&] { return worker.asleep.load(); }));
  auto stopped = std::async(std::launch::async, [&] { worker.StopThread(); });
  EXPECT_EQ(stopped.wait_for(kDeadline), std::future_status::ready);
}

class Thrower : public TAuxilThread {
 public:
  Thrower() : TAuxilThread("Thrower") {}
  ~Thrower() override { StopThread(); }
  void StopThread() override {
    Halt();
    WaitFor();
  }

 protected:
  void Execute() override { throw std::runtime_error("boom"); }
};

class AuxilThreadLogTest : public testing::TempDirTest {
 protected:
  void TearDown() override {
    LogStop();
    TempDirTest::TearDown();
  }
};

TEST_F(AuxilThreadLogTest, ExceptionInExecuteIsLoggedAndReported) {
  LogStart(Dir().string());
  Thrower worker;
  worker.Activate();
  worker.WaitFor();  // the thread ends by itself
  LogStop();

  bool logged = false, reported = false;
  for (const std::string& name : testing::FileNames(Dir())) {
    const std::string text = testing::ReadFile(Dir() / name);
    if (name.starts_with("crash-"))
      reported = text.find("[Thrower] boom\n") != std::string::npos;
    else
      logged = logged || text.find(" - Thrower.Execute - boom\n") != std::string::npos;
  }
  EXPECT_TRUE(logged);
  EXPECT_TRUE(reported);
}

}  // namespace
}  // namespace velkor

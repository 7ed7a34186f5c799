// The update thread with real time: the start and stop order, and the lock order under
// load. Every wait is bounded; a deadlock aborts the test run with a message instead of
// hanging it.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "../TestUtil.h"
#include "StressProject.h"
#include "Watchdog.h"
#include "runtime/Random.h"
#include "serving/ModbusServerList.h"
#include "simulation/ProjectRunner.h"

namespace velkor {
namespace {

using namespace std::chrono_literals;

// Stands in for a script: while the pass holds the owner's device lock, it reads each
// bound tag under its tag lock and writes it back in the lock order (the bound tag's
// device, then the tag), as a script's copy-in and write-back do. Taking the tag lock
// before a bound tag's device lock instead deadlocks this test within a second against
// the setter threads (seen when it was first written that way).
class BoundTagsRunner : public ScriptStepRunner {
 public:
  void RunExecute(TModbusRegister& owner) override {
    for (TModbusRegister* bound : owner.Script().VariableTags()) {
      Variant value;
      {
        LockGuard lock(bound->Lock());
        value = bound->GetValue();
      }
      bound->SetValueLocked(value + Variant(1));
      ++runs;
    }
  }
  std::atomic<int> runs{0};
};

// Odd tags increment, even ones are manual.
struct Project : TwoDeviceProject {
  Project()
      : TwoDeviceProject(20, [](TModbusRegister& tag, int t) {
          tag.Addr = uint16_t(t);
          tag.WorkType = t % 2 ? kWorkIncrement : kWorkManual;
          tag.DefValue = t;
        }) {}
};

TEST(UpdateThread, LockOrderHoldsUnderLoad) {
  Watchdog watchdog(60s);
  Project project;
  // Script tags bound to tags of their own device and of the other one.
  for (int i = 0; i < 6; ++i) {
    TModbusRegister* owner = project.tags[size_t(i)];
    owner->WorkType = kWorkScript;
    owner->Script().BindVariable(project.tags[size_t(i + 7)], "a");
    owner->Script().BindVariable(project.tags[size_t(i + 27)], "b");
  }
  BoundTagsRunner runner;
  ProjectRunner hooks(&runner);
  project.list.SetHooks(&hooks);
  project.list.Start(false);

  RandomSetters setters(project.tags, 4);
  const auto end = std::chrono::steady_clock::now() + 1500ms;
  while (std::chrono::steady_clock::now() < end && runner.runs < 2000)
    std::this_thread::sleep_for(10ms);
  setters.Stop();
  project.list.Stop();
  EXPECT_GT(setters.Sets(), 100);
  EXPECT_GT(runner.runs.load(), 100);
  for (int i = 0; i < 6; ++i) project.tags[size_t(i)]->Script().ClearVariables();
}

// A live tag is read under its lock, as the window does.
int64_t ValueOf(TModbusRegister* tag) {
  LockGuard lock(tag->Lock());
  return tag->GetValue().ToInt64();
}

TEST(UpdateThread, StartResetsValuesAndStopEndsTheThread) {
  Watchdog watchdog(30s);
  Project project;
  ProjectRunner hooks;
  project.list.SetHooks(&hooks);
  TDeviceClass* device = project.list.Items(0)->Devices().Items(0);
  device->Space().WriteWord(500, kHoldingRegs, 2, 9);
  project.tags[0]->SetError("old");
  project.list.Start(true);
  EXPECT_TRUE(hooks.UpdateThreadRunning());
  EXPECT_EQ(device->Space().ReadWord(500, kHoldingRegs, 2), 0);
  EXPECT_FALSE(project.tags[0]->HasError());
  // Increment tags with period 0 advance on every cycle of about 10 ms.
  EXPECT_TRUE(testing::WaitUntil(5s, [&] { return ValueOf(project.tags[1]) >= 1 + 5; }));
  project.list.Stop();
  EXPECT_FALSE(hooks.UpdateThreadRunning());
  const int64_t frozen = project.tags[1]->GetValue().ToInt64();
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(project.tags[1]->GetValue().ToInt64(), frozen);
}

}  // namespace
}  // namespace velkor

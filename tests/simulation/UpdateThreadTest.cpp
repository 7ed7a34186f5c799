// The update thread with real time: the start and stop order, and the lock order under
// load. Every wait is bounded; a deadlock aborts the test run with a message instead of
// hanging it.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

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

struct Project {
  TModbusServerList list;
  std::vector<TModbusRegister*> tags;
  Project() {
    auto server = std::make_unique<TModbusTCPServer>();
    server->Port = 0;
    for (int d = 0; d < 2; ++d) {
      auto device = std::make_unique<TDeviceClass>();
      device->SetName("D" + std::to_string(d));
      device->Number = uint8_t(d + 1);
      TDeviceClass* raw = server->Devices().Add(std::move(device));
      for (int t = 0; t < 20; ++t) {
        auto tag = std::make_unique<TModbusRegister>();
        tag->SetName("T" + std::to_string(t));
        tag->Addr = uint16_t(t);
        tag->Period = 0;
        tag->WorkType = t % 2 ? kWorkIncrement : kWorkManual;
        tag->DefValue = t;
        tags.push_back(raw->AddTag(std::move(tag)));
      }
    }
    list.Add(std::move(server));
  }
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

  std::atomic<bool> stop{false};
  std::atomic<int> sets{0};
  std::vector<std::thread> setters;
  for (int t = 0; t < 4; ++t)
    setters.emplace_back([&] {
      while (!stop) {
        TModbusRegister* tag = project.tags[RandomBelow(uint32_t(project.tags.size()))];
        tag->SetValueLocked(int(RandomBelow(100)));
        ++sets;
      }
    });
  const auto end = std::chrono::steady_clock::now() + 1500ms;
  while (std::chrono::steady_clock::now() < end && runner.runs < 2000)
    std::this_thread::sleep_for(10ms);
  stop = true;
  for (auto& t : setters) t.join();
  project.list.Stop();
  EXPECT_GT(sets.load(), 100);
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
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (ValueOf(project.tags[1]) < 1 + 5 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(10ms);
  EXPECT_GE(ValueOf(project.tags[1]), 6);
  project.list.Stop();
  EXPECT_FALSE(hooks.UpdateThreadRunning());
  const int64_t frozen = project.tags[1]->GetValue().ToInt64();
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(project.tags[1]->GetValue().ToInt64(), frozen);
}

}  // namespace
}  // namespace velkor

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "../TestUtil.h"
#include "StressProject.h"
#include "Watchdog.h"
#include "model/Clock.h"
#include "runtime/Random.h"
#include "script/ScriptEngine.h"
#include "serving/ModbusServerList.h"
#include "serving/ModbusTCPServer.h"
#include "simulation/ProjectRunner.h"
#include "simulation/TagScripts.h"

namespace velkor {
namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

std::atomic<int64_t> g_now{13'000'000'000'000};
int64_t FakeNow() { return g_now.load(); }

int64_t ValueOf(TModbusRegister* tag) {
  LockGuard lock(tag->Lock());
  return tag->GetValue().ToInt64();
}

Lines Body(const std::string& statements) { return {"begin", statements, "end;"}; }

// Holding register 0 of a unit, read by a master over 127.0.0.1: the register's value, or -1
// when no reply came within the limit.
int ReadRegister0(uint16_t port, uint8_t unit, std::chrono::milliseconds limit) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int value = -1;
  const uint8_t request[] = {0, 1, 0, 0, 0, 6, unit, 3, 0, 0, 0, 1};
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::send(fd, request, sizeof request, 0) == ssize_t(sizeof request)) {
    uint8_t reply[11];
    size_t got = 0;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (got < sizeof reply) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd p{fd, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&p, 1, int(left.count())) <= 0) break;
      const ssize_t n = ::recv(fd, reply + got, sizeof reply - got, 0);
      if (n <= 0) break;
      got += size_t(n);
    }
    if (got == sizeof reply && reply[7] == 3) value = reply[9] << 8 | reply[10];
  }
  ::close(fd);
  return value;
}

double MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

// Waits until the device lock's state is `held` (by another thread); false at the deadline.
bool WaitForDeviceLock(TDeviceClass& device, bool held) {
  return testing::WaitUntil(5s, [&] {
    TryLockGuard probe(device.DeviceLock());
    return probe.Owns() != held;
  });
}

class Scripts : public ::testing::Test {
 protected:
  Scripts() {
    SetClockForTesting(&FakeNow);
    server.SetName("S");
    device = server.Devices().Add(std::make_unique<TDeviceClass>());
    device->SetName("D");
  }
  ~Scripts() override {
    for (const auto& tag : device->Tags())
      if (tag->HasScript()) tag->Script().ClearVariables();
    SetClockForTesting(nullptr);
  }

  TModbusRegister* Tag(uint8_t work = kWorkManual, uint16_t addr = 0) {
    auto tag = std::make_unique<TModbusRegister>();
    tag->SetName("T" + std::to_string(device->Tags().Count()));
    tag->SetType(18);
    tag->Addr = addr;
    tag->Period = 1000;
    tag->WorkType = work;
    return device->AddTag(std::move(tag));
  }
  TModbusRegister* ScriptTag(const std::string& execute, uint16_t addr = 0) {
    TModbusRegister* tag = Tag(kWorkScript, addr);
    tag->Script().ExecuteText = Body(execute);
    return tag;
  }
  void Pass() {
    g_now += 1001;
    UpdatePass(*device, &scripts);
  }

  struct Server : ServerNode {
  } server;
  TDeviceClass* device;
  TagScripts scripts;
  Lines functions;
};

TEST_F(Scripts, CounterCountsOncePerPeriod) {
  TModbusRegister* tag = ScriptTag("self := self + 1;");
  ASSERT_TRUE(scripts.Compile(*tag, functions).Ok);
  for (int i = 0; i < 3; ++i) Pass();
  g_now += 10;
  UpdatePass(*device, &scripts);  // within the period: no step
  EXPECT_EQ(ValueOf(tag), 3);
  EXPECT_EQ(device->Space().ReadWord(0, 0, 2), 3);
}

TEST_F(Scripts, ParametersOfOtherBehavioursDoNotStopAScript) {
  TModbusRegister* tag = ScriptTag("self := self + 1;");
  tag->Min = -5;  // does not fit a Word; only a random tag would use it
  ASSERT_TRUE(scripts.Compile(*tag, functions).Ok);
  Pass();
  EXPECT_FALSE(tag->HasError()) << tag->ErrorText();
  EXPECT_EQ(ValueOf(tag), 1);
}

TEST_F(Scripts, BoundVariableWritesAnotherTagsRegisters) {
  TModbusRegister* owner = ScriptTag("t := 2 * self;");
  TModbusRegister* other = Tag(kWorkManual, 5);
  owner->Script().BindVariable(other, "t");
  owner->SetValueLocked(21);
  ASSERT_TRUE(scripts.Compile(*owner, functions).Ok);
  scripts.RunExecute(*owner);
  EXPECT_EQ(ValueOf(other), 42);
  EXPECT_EQ(device->Space().ReadWord(5, 0, 2), 42);
}

// Runs move values by the slots found at compilation; bindings changed since then go by name
// as they did before: a new name is a variable the compiled script does not know.
TEST_F(Scripts, BindingsChangedAfterCompilationGoByName) {
  TModbusRegister* owner = ScriptTag("t := t + 1; self := t;");
  TModbusRegister* first = Tag(kWorkManual, 5);
  TModbusRegister* second = Tag(kWorkManual, 6);
  first->SetValueLocked(10);
  second->SetValueLocked(20);
  owner->Script().BindVariable(first, "t");
  ASSERT_TRUE(scripts.Compile(*owner, functions).Ok);
  scripts.RunExecute(*owner);
  EXPECT_EQ(ValueOf(first), 11);
  EXPECT_EQ(ValueOf(owner), 11);

  owner->Script().ClearVariables();
  owner->Script().BindVariable(second, "u");
  scripts.RunExecute(*owner);  // t keeps its last value inside the engine
  EXPECT_EQ(ValueOf(owner), 12);
  EXPECT_EQ(ValueOf(first), 11);
  EXPECT_EQ(ValueOf(second), 20);

  owner->Script().ClearVariables();
  owner->Script().BindVariable(second, "T");
  scripts.RunExecute(*owner);
  EXPECT_EQ(ValueOf(second), 21);
  EXPECT_EQ(ValueOf(owner), 21);
}

TEST_F(Scripts, WriteBackStopsAtTheFirstValueThatDoesNotFit) {
  TModbusRegister* owner = ScriptTag("a := 5; b := 70000; self := 9;");
  TModbusRegister* a = Tag(kWorkManual, 5);
  TModbusRegister* b = Tag(kWorkManual, 6);
  b->SetType(2);  // ShortInt: an Integer to the script, 70000 fits there, not here
  // Bound names ignore letter case, as the script's do.
  owner->Script().BindVariable(a, "A");
  owner->Script().BindVariable(b, "b");
  b->SetValueLocked(3);
  ASSERT_TRUE(scripts.Compile(*owner, functions).Ok);
  Pass();
  EXPECT_TRUE(owner->HasError());
  EXPECT_EQ(ValueOf(a), 5);      // written back before the failure
  EXPECT_EQ(ValueOf(b), 3);      // the failing one keeps its value
  EXPECT_EQ(ValueOf(owner), 0);  // self comes after the bound tags
}

TEST_F(Scripts, NoReplyReachesTheDeviceAndSurvivesScriptsThatLeaveIt) {
  TModbusRegister* quiet = ScriptTag("NoReply := True;");
  TModbusRegister* idle = ScriptTag("self := self;", 1);
  ASSERT_TRUE(scripts.Compile(*quiet, functions).Ok);
  ASSERT_TRUE(scripts.Compile(*idle, functions).Ok);
  scripts.Run(*quiet, ScriptKind::Execute);
  EXPECT_TRUE(device->NoReply);
  scripts.Run(*idle, ScriptKind::Execute);
  EXPECT_TRUE(device->NoReply);
}

TEST_F(Scripts, PieceErrorsNameTheirTextAndLineAndKeepTheStoredTexts) {
  functions = {"function Two: Integer;", "begin", "  Result := 2;", "end;"};
  TModbusRegister* tag = ScriptTag("self := 1;");
  const Lines storedStart = tag->Script().StartText;
  const Lines goodExecute = Body("self := 5;");
  const Lines goodStart = Body("self := 6;");
  const Lines badStop = {"begin", "  self := 1;", "  self := ;", "end;"};
  struct Case {
    const Lines* execute;
    const Lines* start;
    const Lines* stop;
    ScriptKind kind;
    int textLine;
  };
  const Lines bad = {"begin", "  self := ;", "end;"};
  const Case cases[] = {
      {&goodExecute, &goodStart, &badStop, ScriptKind::Stop, 3},
      {&bad, nullptr, nullptr, ScriptKind::Execute, 2},
      {nullptr, &bad, nullptr, ScriptKind::Start, 2},
  };
  for (const Case& c : cases) {
    const ScriptCompileResult r = scripts.Compile(*tag, functions, c.execute, c.start, c.stop);
    EXPECT_FALSE(r.Ok);
    EXPECT_EQ(r.Kind, c.kind);
    // The piece program: the user function's four lines and the heading come first.
    EXPECT_EQ(r.Line, c.textLine + 5);
    EXPECT_EQ(r.TextLine, c.textLine);
    EXPECT_FALSE(r.Message.empty());
    EXPECT_FALSE(tag->Script().Compiled);
    EXPECT_EQ(tag->Script().ExecuteText, Body("self := 1;"));
    EXPECT_EQ(tag->Script().StartText, storedStart);
  }
  scripts.Run(*tag, ScriptKind::Execute);  // inactive after a failure
  EXPECT_EQ(ValueOf(tag), 0);
  EXPECT_TRUE(scripts.Compile(*tag, functions, &goodExecute).Ok);
  EXPECT_EQ(tag->Script().ExecuteText, goodExecute);
}

TEST_F(Scripts, RunTimeErrorIsRecordedAndOtherTagsGoOn) {
  TModbusRegister* broken = ScriptTag("self := 10 div (self - self);");
  TModbusRegister* counter = ScriptTag("self := self + 1;", 1);
  TModbusRegister* plain = Tag(kWorkIncrement, 2);
  scripts.CompileScripts(*device, functions);
  Pass();
  EXPECT_TRUE(broken->HasError());
  EXPECT_FALSE(broken->ErrorText().empty());
  EXPECT_EQ(ValueOf(counter), 1);
  EXPECT_EQ(ValueOf(plain), 1);
  EXPECT_FALSE(counter->HasError());
}

TEST_F(Scripts, EndlessLoopIsStoppedByTheBudget) {
  scripts.SetStepBudget(100'000);
  TModbusRegister* tag = ScriptTag("while True do self := 1;");
  ASSERT_TRUE(scripts.Compile(*tag, functions).Ok);
  Pass();
  EXPECT_TRUE(tag->HasError());
  EXPECT_FALSE(tag->ErrorText().empty());
}

TEST_F(Scripts, UserFunctionsAreCallable) {
  // As user functions come from the project: heading line, then the body.
  functions = {"function Twice( x:Integer; ):Integer; ", "begin", "  Result := x * 2;", "end;"};
  TModbusRegister* tag = ScriptTag("self := Twice(self + 4);");
  ASSERT_TRUE(scripts.Compile(*tag, functions).Ok) << scripts.Compile(*tag, functions).Message;
  scripts.RunExecute(*tag);
  EXPECT_EQ(ValueOf(tag), 8);
}

TEST_F(Scripts, DefaultTextsCompileAndChangeNothing) {
  TModbusRegister* tag = Tag(kWorkScript);
  tag->SetValueLocked(17);
  ASSERT_TRUE(scripts.Compile(*tag, functions).Ok);
  for (ScriptKind kind : {ScriptKind::Start, ScriptKind::Execute, ScriptKind::Stop})
    scripts.Run(*tag, kind);
  EXPECT_EQ(ValueOf(tag), 17);
  EXPECT_FALSE(device->NoReply);
}

TEST_F(Scripts, StartFailureNamesTheTag) {
  TModbusRegister* tag = Tag(kWorkScript);
  tag->Script().StartText = Body("self := 10 div (self - self);");
  ASSERT_TRUE(scripts.Compile(*tag, functions).Ok);
  try {
    scripts.Run(*tag, ScriptKind::Start);
    ADD_FAILURE() << "no error";
  } catch (const ScriptError& e) {
    EXPECT_NE(std::string(e.what()).find(tag->FullName()), std::string::npos) << e.what();
  }
}

TEST_F(Scripts, EngineLivesWithItsTagAndACloneCompilesItsOwn) {
  TModbusRegister* tag = ScriptTag("self := self + 1;");
  ASSERT_TRUE(scripts.Compile(*tag, functions).Ok);
  ASSERT_NE(TagScripts::FindEngine(*tag), nullptr);
  std::unique_ptr<TModbusRegister> copy = tag->Clone(device, nullptr);
  EXPECT_EQ(TagScripts::FindEngine(*copy), nullptr);
  EXPECT_FALSE(copy->Script().Compiled);
  ASSERT_TRUE(scripts.Compile(*copy, functions).Ok);
  EXPECT_NE(TagScripts::FindEngine(*copy), TagScripts::FindEngine(*tag));
  // Deleting a compiled tag takes its engine along (the sanitizer build sees a leak or a
  // dangling engine); the rest of the device still runs.
  TModbusRegister* other = ScriptTag("self := self + 2;", 1);
  scripts.CompileScripts(*device, functions);
  device->DeleteTag(tag);
  Pass();
  EXPECT_EQ(ValueOf(other), 2);
}

TEST(TagScriptsLoad, BoundTagsOfTwoDevicesUnderSettersDoNotDeadlock) {
  SetClockForTesting(nullptr);
  Watchdog watchdog(60s);
  TwoDeviceProject project(10, [](TModbusRegister& tag, int t) {
    tag.SetType(3);
    tag.Addr = uint16_t(2 * t);
  });
  TModbusServerList& list = project.list;
  const std::vector<TModbusRegister*>& tags = project.tags;
  for (int i = 0; i < 4; ++i) {
    TModbusRegister* owner = tags[size_t(i)];
    owner->WorkType = kWorkScript;
    owner->Script().ExecuteText = Body("a := a + 1; b := b + 1; self := self + 1;");
    owner->Script().BindVariable(tags[size_t(i + 5)], "a");
    owner->Script().BindVariable(tags[size_t(i + 15)], "b");
  }
  TagScripts scripts;
  ProjectRunner hooks(&scripts);
  list.SetHooks(&hooks);
  list.Start(false);

  RandomSetters setters(tags, 3);
  const auto end = std::chrono::steady_clock::now() + 1500ms;
  while (std::chrono::steady_clock::now() < end && ValueOf(tags[0]) < 200)
    std::this_thread::sleep_for(10ms);
  setters.Stop();
  list.Stop();
  list.SetHooks(nullptr);
  EXPECT_GT(setters.Sets(), 100);
  EXPECT_GT(ValueOf(tags[0]), 0);
  for (int i = 0; i < 4; ++i)
    EXPECT_FALSE(tags[size_t(i)]->HasError()) << tags[size_t(i)]->ErrorText();
  for (int i = 0; i < 4; ++i) tags[size_t(i)]->Script().ClearVariables();
}

TEST(TagScriptsRun, StartAndStopEventsRunAroundTheServers) {
  TModbusServerList list;
  auto server = std::make_unique<TModbusTCPServer>();
  server->Port = 0;
  TDeviceClass* device = server->Devices().Add(std::make_unique<TDeviceClass>());
  auto tag = std::make_unique<TModbusRegister>();
  tag->SetName("T");
  tag->WorkType = kWorkScript;
  tag->Period = 1'000'000;
  TModbusRegister* raw = device->AddTag(std::move(tag));
  auto later = std::make_unique<TModbusRegister>();
  later->SetName("U");
  later->Addr = 1;
  later->WorkType = kWorkScript;
  later->Period = 1'000'000;
  TModbusRegister* second = device->AddTag(std::move(later));
  second->Script().StopText = Body("self := 50;");
  raw->Script().StartText = Body("self := 7;");
  raw->Script().StopText = Body("self := self + 1;");
  list.Add(std::move(server));
  TagScripts scripts;
  ProjectRunner hooks(&scripts);
  list.SetHooks(&hooks);
  list.Start(false);
  EXPECT_EQ(ValueOf(raw), 7);
  list.Stop();
  EXPECT_EQ(ValueOf(raw), 8);

  // The project does not start: later start events and every stop event stay unrun.
  second->Script().StartText = Body("self := 99;");
  raw->Script().StartText = Body("self := 10 div (self - self);");
  EXPECT_THROW(list.Start(false), ScriptError);
  EXPECT_EQ(ValueOf(second), 50);
  EXPECT_FALSE(list.Running());
  EXPECT_FALSE(hooks.UpdateThreadRunning());
  EXPECT_FALSE(list.Items(0)->Running());
  list.SetHooks(nullptr);
}

// A script in an endless loop (with a budget that would last for hours) holds its device
// lock inside the update pass; a stop request frees the lock and ends the project at once,
// while the other device answers throughout.
TEST(TagScriptsRun, StopDoesNotWaitForAScriptInAnEndlessLoop) {
  SetClockForTesting(nullptr);
  Watchdog watchdog(60s);
  TModbusServerList list;
  auto made = std::make_unique<TModbusTCPServer>();
  made->Port = 0;
  TModbusTCPServer* server = made.get();
  TDeviceClass* spinning = server->Devices().Add(std::make_unique<TDeviceClass>());
  spinning->Number = 1;
  TDeviceClass* quiet = server->Devices().Add(std::make_unique<TDeviceClass>());
  quiet->Number = 2;
  auto spin = std::make_unique<TModbusRegister>();
  spin->SetName("Spin");
  spin->WorkType = kWorkScript;
  spin->Period = 1;
  spin->Script().ExecuteText = Body("while true do ;");
  TModbusRegister* spinTag = spinning->AddTag(std::move(spin));
  auto value = std::make_unique<TModbusRegister>();
  value->SetName("V");
  value->SetType(18);
  quiet->AddTag(std::move(value))->SetValueLocked(Variant(1234));
  list.Add(std::move(made));

  TagScripts scripts;
  scripts.SetStepBudget(int64_t(1) << 42);
  ProjectRunner hooks(&scripts);
  list.SetHooks(&hooks);
  list.Start(false);
  const auto listening = std::chrono::steady_clock::now() + 5s;
  while (server->ListeningPort() == 0 && std::chrono::steady_clock::now() < listening)
    std::this_thread::sleep_for(1ms);
  ASSERT_NE(server->ListeningPort(), 0);
  const uint16_t port = server->ListeningPort();
  ASSERT_TRUE(WaitForDeviceLock(*spinning, true));
  EXPECT_EQ(ReadRegister0(port, 2, 2000ms), 1234);

  scripts.RequestStop(true);
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(WaitForDeviceLock(*spinning, false));
  const double freed = MsSince(start);
  EXPECT_EQ(ReadRegister0(port, 1, 2000ms), 0);
  scripts.RequestStop(false);

  ASSERT_TRUE(WaitForDeviceLock(*spinning, true));  // spinning again
  start = std::chrono::steady_clock::now();
  list.Stop();
  const double stopped = MsSince(start);
  std::printf("device lock free %.2f ms after the request; Stop took %.2f ms\n", freed, stopped);
  EXPECT_LT(freed, 1000.0);
  EXPECT_LT(stopped, 1000.0);
  EXPECT_FALSE(list.Running());
  EXPECT_NE(spinTag->ErrorText().find("Script stopped"), std::string::npos) << spinTag->ErrorText();
  list.SetHooks(nullptr);
}

}  // namespace
}  // namespace velkor

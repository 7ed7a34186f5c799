// The engine as tag scripts use it: host variables, calls, and the limits that keep a
// script from holding the calling thread.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "script/ScriptEngine.h"

namespace velkor {
namespace {

std::vector<std::string> TagProgram(const std::vector<std::string>& execute) {
  std::vector<std::string> lines = {"function ScriptExecute: Variant;"};
  lines.insert(lines.end(), execute.begin(), execute.end());
  for (const char* l : {"function ScriptStart: Variant;", "begin", "end;",
                        "function ScriptStop: Variant;", "begin", "end;", "begin", "end."})
    lines.push_back(l);
  return lines;
}

TEST(ScriptEngine, CreatesWithTheDialect) {
  ScriptEngine e;
  EXPECT_EQ(e.Dialect(), "PascalScript");
  EXPECT_TRUE(e.GetVariable("x").IsNull());
  EXPECT_TRUE(e.CallFunction("ScriptExecute").IsNull());  // nothing compiled
}

TEST(ScriptEngine, HostVariablesKeepTheirTypeAndValuesBetweenCalls) {
  ScriptEngine e;
  e.AddVariable("self", "Word", Variant(7));
  e.AddVariable("NoReply", "Boolean", Variant(false));
  e.AddVariable("noreply", "Integer", Variant(5));  // exists already: left unchanged
  e.AddVariable("t", "Double", Variant(1.5));
  e.SetLines(TagProgram({"var k: Integer;", "begin", "  self := self + 1;", "  t := t * 2;",
                         "  counter := counter + 1;", "  NoReply := self > 9;", "end;"}));
  EXPECT_FALSE(e.Compile());  // counter is unknown
  EXPECT_EQ(e.ErrorPos(), "6:3");
  EXPECT_NE(e.ErrorMsg().find("counter"), std::string::npos);

  // A program global may not take a host variable's name (the host would never see its
  // writes); a routine's local may.
  std::vector<std::string> clash = {"var T: Integer;"};
  for (const std::string& line : TagProgram({"begin", "  t := 1;", "end;"})) clash.push_back(line);
  e.SetLines(clash);
  EXPECT_FALSE(e.Compile());
  EXPECT_EQ(e.ErrorPos(), "1:5");
  EXPECT_NE(e.ErrorMsg().find("redeclared"), std::string::npos) << e.ErrorMsg();
  e.SetLines(TagProgram({"var t: Integer;", "begin", "  t := 1;", "end;"}));
  EXPECT_TRUE(e.Compile()) << e.ErrorMsg();

  e.SetLines(TagProgram({"begin", "  self := self + 1;", "  t := t * 2;", "  NoReply := self > 8;",
                         "  Result := self;", "end;"}));
  ASSERT_TRUE(e.Compile()) << e.ErrorMsg();
  EXPECT_EQ(e.CallFunction("ScriptExecute").ToInt64(), 8);
  EXPECT_EQ(e.GetVariable("NoReply").Type(), VarType::Bool);
  EXPECT_FALSE(e.GetVariable("NoReply").ToBool());
  e.CallFunction("scriptexecute");
  EXPECT_TRUE(e.GetVariable("NOREPLY").ToBool());
  const Variant self = e.GetVariable("self");
  EXPECT_EQ(self.Type(), VarType::Word);
  EXPECT_EQ(self.ToInt64(), 9);
  EXPECT_DOUBLE_EQ(e.GetVariable("t").ToDouble(), 6.0);
  EXPECT_TRUE(e.CallFunction("NoSuchFunction").IsNull());

  e.SetVariable("self", Variant("100"));  // converted to the declared Word
  EXPECT_EQ(e.GetVariable("self").Type(), VarType::Word);
  EXPECT_EQ(e.GetVariable("self").ToInt64(), 100);
  EXPECT_THROW(e.SetVariable("self", Variant(70000)), VelkorError);
  e.SetVariable("fresh", Variant(2.5));  // missing: declared as Variant
  EXPECT_DOUBLE_EQ(e.GetVariable("fresh").ToDouble(), 2.5);

  e.Clear();
  EXPECT_TRUE(e.GetVariable("self").IsNull());
}

TEST(ScriptEngine, ProgramGlobalsPersistBetweenCallsUntilRecompiled) {
  ScriptEngine e;
  e.SetLines({"var n: Integer;", "function Next: Integer;", "begin", "  Inc(n);", "  Result := n;",
              "end;", "begin end."});
  ASSERT_TRUE(e.Compile());
  e.CallFunction("Next");
  e.CallFunction("Next");
  EXPECT_EQ(e.CallFunction("Next").ToInt64(), 3);
  EXPECT_EQ(e.GetVariable("n").ToInt64(), 3);
  ASSERT_TRUE(e.Compile());
  EXPECT_EQ(e.CallFunction("Next").ToInt64(), 1);
}

TEST(ScriptEngine, RuntimeErrorsReachTheCallerWithMessageAndLine) {
  ScriptEngine e;
  e.SetLines(TagProgram({"var z: Integer;", "begin", "  z := 0;", "  z := 10 div z;", "end;"}));
  ASSERT_TRUE(e.Compile());
  try {
    e.CallFunction("ScriptExecute");
    FAIL() << "no error";
  } catch (const ScriptError& err) {
    EXPECT_STREQ(err.what(), "Division by zero");
    EXPECT_EQ(err.Line(), 5);
  }
  // The engine stays usable after a failure.
  EXPECT_THROW(e.CallFunction("ScriptExecute"), VelkorError);
}

TEST(ScriptEngine, BudgetStopsAnEndlessLoopAndTheEngineStaysUsable) {
  ScriptEngine e;
  e.SetStepBudget(100000);
  e.SetLines({"var n: Integer;", "function Spin: Integer;", "begin", "  while True do Inc(n);",
              "end;", "function Ok: Integer;", "begin", "  Result := 42;", "end;", "begin end."});
  ASSERT_TRUE(e.Compile());
  EXPECT_THROW(e.CallFunction("Spin"), ScriptError);
  EXPECT_GE(e.GetVariable("n").ToInt64(), 99000);
  EXPECT_EQ(e.CallFunction("Ok").ToInt64(), 42);  // a new call gets a new budget
}

// A routine works on globals in registers; a call that ends in an error still leaves
// in the globals what it wrote before, whether the error is the script's or the budget's.
TEST(ScriptEngine, WritesBeforeAnErrorReachTheHost) {
  ScriptEngine e;
  e.SetStepBudget(10000);
  e.AddVariable("self", "Word", Variant(1));
  e.AddVariable("t", "Double", Variant(0.5));
  e.SetLines({"procedure Deep;", "begin", "  t := 2.5;", "  self := self div (self - self);",
              "end;", "function Fails: Integer;", "begin", "  self := 7;", "  Deep;", "end;",
              "function Spins: Integer;", "begin", "  self := 9;", "  while True do t := t + 1;",
              "end;", "begin end."});
  ASSERT_TRUE(e.Compile()) << e.ErrorMsg();
  EXPECT_THROW(e.CallFunction("Fails"), ScriptError);
  EXPECT_EQ(e.GetVariable("self").ToInt64(), 7);
  EXPECT_DOUBLE_EQ(e.GetVariable("t").ToDouble(), 2.5);
  EXPECT_THROW(e.CallFunction("Spins"), ScriptError);
  EXPECT_EQ(e.GetVariable("self").ToInt64(), 9);
  EXPECT_GT(e.GetVariable("t").ToDouble(), 9000.0);
}

// The budget reaches the loop in shares; the whole budget still counts, no more and no less.
TEST(ScriptEngine, BudgetSpanningSeveralSharesIsSpentExactly) {
  ScriptEngine e;
  e.SetStepBudget(3 * kStopCheckSteps + 123);
  e.SetLines({"var n: Integer;", "function Spin: Integer;", "begin", "  while True do Inc(n);",
              "end;", "begin end."});
  ASSERT_TRUE(e.Compile());
  EXPECT_THROW(e.CallFunction("Spin"), ScriptError);
  EXPECT_NEAR(double(e.GetVariable("n").ToInt64()), double(3 * kStopCheckSteps + 123), 2);
}

// Another thread stops a call that would otherwise run its whole budget; the script's own
// handler does not see it, and the engine works again once the flag is cleared.
TEST(ScriptEngine, StopFlagEndsARunningCallAtOnce) {
  using Clock = std::chrono::steady_clock;
  ScriptEngine e;
  e.SetStepBudget(int64_t(1) << 40);
  auto stop = std::make_shared<std::atomic<bool>>(false);
  e.SetStopFlag(stop);
  e.SetLines({"var n: Integer;", "function Spin: Integer;", "begin",
              "  while True do try Inc(n); except n := -1000000; end;", "end;",
              "function Ok: Integer;", "begin", "  Result := 42;", "end;", "begin end."});
  ASSERT_TRUE(e.Compile());
  std::string error;
  std::atomic<bool> running{false};
  Clock::time_point ended;
  std::thread caller([&] {
    running = true;
    try {
      e.CallFunction("Spin");
    } catch (const ScriptError& err) {
      error = err.what();
    }
    ended = Clock::now();
  });
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (!running && Clock::now() < deadline) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const auto set = Clock::now();
  stop->store(true);
  caller.join();
  const double ms = std::chrono::duration<double, std::milli>(ended - set).count();
  std::printf("call ended %.3f ms after the stop request\n", ms);
  EXPECT_LT(ms, 1000.0);
  EXPECT_NE(error.find("Script stopped"), std::string::npos) << error;
  EXPECT_GT(e.GetVariable("n").ToInt64(), 0);  // the except branch never ran

  EXPECT_EQ(e.CallFunction("Ok").ToInt64(), 42);  // no loop: runs even while stopping
  stop->store(false);
  e.SetStepBudget(1000);
  try {
    e.CallFunction("Spin");
    FAIL() << "no error";
  } catch (const ScriptError& err) {
    EXPECT_NE(std::string(err.what()).find("steps"), std::string::npos) << err.what();
  }
}

TEST(ScriptEngine, RecursionLimitIsAnErrorNotACrash) {
  ScriptEngine e;
  e.SetLines({"function Deep(n: Integer): Integer;", "var pad: array[1..50] of Integer;", "begin",
              "  Result := Deep(n + 1);", "end;", "function Go: Integer;", "begin",
              "  try Result := Deep(0); except Result := -1; end;", "end;", "begin end."});
  ASSERT_TRUE(e.Compile());
  try {
    e.CallFunction("Go");
    FAIL() << "no error";
  } catch (const ScriptError& err) {
    EXPECT_NE(std::string(err.what()).find("nested deeper"), std::string::npos) << err.what();
    EXPECT_EQ(err.Line(), 4);
  }
}

TEST(ScriptEngine, ShowMessageGoesToTheHandler) {
  ScriptEngine e;
  std::vector<std::string> shown;
  e.SetShowMessageHandler([&](const std::string& text) { shown.push_back(text); });
  e.SetLines({"begin", "  ShowMessage('one'); ShowMessage(IntToStr(2));", "end."});
  ASSERT_TRUE(e.Compile());
  e.RunMain();
  EXPECT_EQ(shown, (std::vector<std::string>{"one", "2"}));
}

TEST(ScriptEngine, DefaultScriptTextsCompileAndDoNothing) {
  ScriptEngine e;
  e.AddVariable("self", "Single", Variant(1.25));
  e.SetLines({"function ScriptExecute: Variant;", "//Скрипт на исполнение", "begin", "end;",
              "function ScriptStart: Variant;", "//Скрипт на запуск", "begin", "end;",
              "function ScriptStop: Variant;", "//Скрипт на останов", "begin", "end;", "begin",
              "end."});
  ASSERT_TRUE(e.Compile()) << e.ErrorMsg();
  EXPECT_TRUE(e.CallFunction("ScriptExecute").IsEmpty());
  EXPECT_EQ(e.GetVariable("self").Type(), VarType::Float);
  EXPECT_DOUBLE_EQ(e.GetVariable("self").ToDouble(), 1.25);
}

TEST(ScriptEngine, CompileErrorInAPieceReportsItsLine) {
  ScriptEngine e;
  e.SetLines({"function ScriptExecute: Variant;", "begin", "  x := ;", "end;", "begin", "end."});
  EXPECT_FALSE(e.Compile());
  EXPECT_EQ(e.ErrorPos(), "3:8");
  EXPECT_EQ(e.ErrorMsg(), "expression expected but ';' found");
}

}  // namespace
}  // namespace velkor

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>

#include "model/Clock.h"
#include "model/TagRegistry.h"
#include "runtime/Random.h"
#include "simulation/Behaviours.h"

namespace velkor {
namespace {

// The tests step time by hand: every generator and period reads this clock.
std::atomic<int64_t> g_now{13'000'000'000'000};
int64_t FakeNow() { return g_now.load(); }

class Sim : public ::testing::Test {
 protected:
  Sim() {
    SetClockForTesting(&FakeNow);
    server.SetName("S");
    device = server.Devices().Add(std::make_unique<TDeviceClass>());
    SeedRandom(12345);
  }
  ~Sim() override { SetClockForTesting(nullptr); }

  TModbusRegister* Tag(uint16_t type, uint8_t work, uint16_t addr = 0) {
    auto tag = std::make_unique<TModbusRegister>();
    tag->SetName("T" + std::to_string(device->Tags().Count()));
    tag->SetType(type);
    tag->Addr = addr;
    tag->WorkType = work;
    return device->AddTag(std::move(tag));
  }
  // Advances the clock and runs one pass.
  void Pass(int64_t ms) {
    g_now += ms;
    UpdatePass(*device);
  }

  struct Server : ServerNode {
  } server;
  TDeviceClass* device;
};

TEST_F(Sim, TimeToUpdateIsStrictAndSurvivesAClockSetBack) {
  TModbusRegister* tag = Tag(18, kWorkManual);
  const int64_t t0 = tag->LastUpdate;
  EXPECT_FALSE(TimeToUpdate(*tag, t0 + 100));
  EXPECT_TRUE(TimeToUpdate(*tag, t0 + 101));
  EXPECT_EQ(tag->LastUpdate, t0 + 101);
  // An hour back: the period starts again from the new time.
  EXPECT_FALSE(TimeToUpdate(*tag, t0 - 3600000));
  EXPECT_EQ(tag->LastUpdate, t0 - 3600000);
  EXPECT_TRUE(TimeToUpdate(*tag, t0 - 3600000 + 101));
}

TEST_F(Sim, WordIncrementCountsAndStopsAtTheTopWithOneError) {
  TModbusRegister* tag = Tag(18, kWorkIncrement);
  for (int i = 1; i <= 3; ++i) {
    Pass(101);
    EXPECT_EQ(tag->GetValue().ToInt64(), i);
  }
  Pass(50);  // not yet time
  EXPECT_EQ(tag->GetValue().ToInt64(), 3);
  device->Space().WriteWord(0, kHoldingRegs, 2, 65534);  // as a master would
  Pass(101);
  EXPECT_EQ(tag->GetValue().ToInt64(), 65535);
  Pass(101);
  EXPECT_EQ(tag->GetValue().ToInt64(), 65535);
  EXPECT_TRUE(tag->TakeError());
  Pass(101);
  EXPECT_FALSE(tag->TakeError()) << "the same failure is shown once";
}

TEST_F(Sim, IncrementsOfOtherTypes) {
  TModbusRegister* d = Tag(5, kWorkIncrement, 0);
  d->IncDec = 0.5;
  TModbusRegister* date = Tag(7, kWorkIncrement, 10);
  date->SetValue(Variant::OfDateTime(EncodeOleDate(2024, 2, 28)));
  TModbusRegister* text = Tag(256, kWorkIncrement, 20);
  text->SetRegsCount(2);
  text->IncDec = "ab";
  text->SetValue("");
  Pass(101);
  Pass(101);
  EXPECT_EQ(d->ValueText(), "1");
  EXPECT_EQ(date->ValueText(), "01.03.2024");
  EXPECT_EQ(text->ValueText(), "abab");
  Pass(101);  // appends in memory; the registers hold what fits
  EXPECT_EQ(text->ValueText(), "ababab");
  EXPECT_EQ(device->Space().ReadString(20, 2, kHoldingRegs, 2), "abab");
}

TEST_F(Sim, RandomWalkStaysWithinItsBounds) {
  TModbusRegister* tag = Tag(18, kWorkRandom);
  tag->Min = 10;
  tag->Max = 20;
  for (int i = 0; i < 500; ++i) {
    Pass(101);
    const int64_t v = tag->GetValue().ToInt64();
    ASSERT_GE(v, 10);
    ASSERT_LE(v, 20);
  }
  TModbusRegister* inverted = Tag(5, kWorkRandom, 10);
  inverted->Min = 10;
  inverted->Max = 0;
  for (int i = 0; i < 50; ++i) {
    Pass(101);
    ASSERT_EQ(inverted->GetValue().ToDouble(), 10.0);
  }
}

TEST_F(Sim, FluctuationOnIncrementOnlyForSmallIntegers) {
  TModbusRegister* w = Tag(18, kWorkIncrement);
  w->Percent = 10;
  w->SetValue(30000);
  TModbusRegister* f = Tag(4, kWorkIncrement, 10);
  f->Percent = 10;
  bool moved = false;
  for (int i = 0; i < 200; ++i) {
    const int64_t before = w->GetValue().ToInt64();
    Pass(101);
    const int64_t step = w->GetValue().ToInt64() - before;
    ASSERT_LE(std::abs(step - 1), 6554) << step;
    moved = moved || std::abs(step - 1) > 10;
    w->SetValue(30000);
  }
  EXPECT_TRUE(moved);
  EXPECT_EQ(f->ValueText(), "200");
}

TEST_F(Sim, FluctuationSignIsAsymmetric) {
  TModbusRegister* tag = Tag(5, kWorkSine);
  tag->Percent = 100;
  int negative = 0;
  const int n = 20000;
  for (int i = 0; i < n; ++i) negative += Fluctuation(*tag, 1.0) < 0;
  EXPECT_NEAR(double(negative) / n, 0.49, 0.02);
  tag->Percent = 0;
  EXPECT_EQ(Fluctuation(*tag, 1000.0), 0.0);
}

TEST_F(Sim, PeriodZeroStepsOnEveryPass) {
  TModbusRegister* tag = Tag(18, kWorkIncrement);
  tag->Period = 0;
  for (int i = 0; i < 5; ++i) Pass(1);
  EXPECT_EQ(tag->GetValue().ToInt64(), 5);
}

// A script that takes 2 s: the tags after it in the same pass see the time after it.
TEST_F(Sim, TagsAfterASlowScriptUseTheTimeAfterIt) {
  struct SlowScript : ScriptStepRunner {
    void RunExecute(TModbusRegister&) override { g_now += 2000; }
  } slow;
  TModbusRegister* script = Tag(18, kWorkScript, 0);
  TModbusRegister* counter = Tag(18, kWorkIncrement, 1);
  script->Period = 0;
  counter->Period = 1000;
  counter->LastUpdate = g_now;  // due only 1 s from now
  g_now += 1;
  UpdatePass(*device, &slow);
  EXPECT_EQ(counter->GetValue().ToInt64(), 1);
  EXPECT_EQ(counter->LastUpdate, g_now.load());
}

TEST_F(Sim, MasterWriteBecomesTheValueOfAManualTag) {
  TModbusRegister* tag = Tag(18, kWorkManual, 3);
  device->Space().WriteWord(3, kHoldingRegs, 2, 1234);
  Pass(1);
  EXPECT_EQ(tag->GetValue().ToInt64(), 1234);
  Pass(1000);
  EXPECT_EQ(tag->GetValue().ToInt64(), 1234);
}

TEST_F(Sim, BusyTagIsSkippedUntilReleased) {
  TModbusRegister* tag = Tag(18, kWorkIncrement);
  std::atomic<bool> held{false}, release{false};
  std::thread holder([&] {
    tag->LockTag();
    held = true;
    while (!release) std::this_thread::yield();
    tag->UnlockTag();
  });
  while (!held) std::this_thread::yield();
  Pass(101);
  EXPECT_EQ(tag->GetValue().ToInt64(), 0);
  release = true;
  holder.join();
  Pass(1);
  EXPECT_EQ(tag->GetValue().ToInt64(), 1);
}

TEST_F(Sim, SineFollowsTheClock) {
  TModbusRegister* tag = Tag(5, kWorkSine);
  tag->Period = 50;
  tag->Sin.Amplitude = 100;
  tag->Sin.Period = 1000;
  tag->Sin.Offset = 500;
  const double expected[] = {600, 500, 400, 500};
  for (double e : expected) {
    Pass(250);
    EXPECT_NEAR(tag->GetValue().ToDouble(), e, 1e-9);
  }
  TModbusRegister* flat = Tag(5, kWorkSine, 10);
  flat->Sin.Amplitude = 100;
  flat->Sin.Offset = 7;
  Pass(250);
  EXPECT_EQ(flat->GetValue().ToDouble(), 7.0);
}

struct SawCase {
  const char* name;
  uint8_t type;
  int amplitude;
  int offset;
  std::vector<double> values;  // one per 100 ms
};

class Saw : public Sim, public ::testing::WithParamInterface<SawCase> {};

TEST_P(Saw, Shape) {
  const SawCase& c = GetParam();
  TModbusRegister* tag = Tag(5, kWorkSaw);
  tag->Period = 99;
  tag->Pila.pType = c.type;
  tag->Pila.Amplitude = c.amplitude;
  tag->Pila.Period = 1000;
  tag->Pila.Offset = c.offset;
  for (double v : c.values) {
    Pass(100);
    EXPECT_NEAR(tag->GetValue().ToDouble(), v, 1e-9);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Types, Saw,
    ::testing::Values(
        SawCase{"Triangle", kSawTriangle, 10, 0, {4, 8, 10, 6, 2, -2, -6, -10, -6}},
        SawCase{"RightTriangle", kSawRightTriangle, 10, 0, {2, 4, 6, 8, 0, -2, -4, -6, -8, 0, 2}},
        SawCase{"RampUp", kSawRampUp, 100, 0, {10, 20, 30, 40, 50, 60, 70, 80, 90, 0, 10}},
        SawCase{"RampDown", kSawRampDown, 100, 5, {105, 95, 85}},
        SawCase{"TriangleWithOffset", kSawTriangle, 10, 100, {104, 108, 110}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Sim, SawWithPeriodZeroIsZeroWhateverItsOffset) {
  TModbusRegister* tag = Tag(5, kWorkSaw);
  tag->Pila.Amplitude = 10;
  tag->Pila.Offset = 50;
  Pass(101);
  EXPECT_EQ(tag->GetValue().ToDouble(), 0.0);
}

TEST_F(Sim, SawBelowZeroOverflowsAWordTagUnlessOffset) {
  TModbusRegister* tag = Tag(18, kWorkSaw);
  tag->Period = 99;
  tag->Pila.Amplitude = 10;
  tag->Pila.Period = 1000;
  for (int i = 0; i < 6; ++i) Pass(100);
  EXPECT_TRUE(tag->TakeError());
  TModbusRegister* lifted = Tag(18, kWorkSaw, 10);
  lifted->Period = 99;
  lifted->Pila.Amplitude = 10;
  lifted->Pila.Period = 1000;
  lifted->Pila.Offset = 10;
  for (int i = 0; i < 12; ++i) Pass(100);
  EXPECT_FALSE(lifted->TakeError());
}

TEST_F(Sim, ResetSpaceGivesDefaultsAndClearsTheRest) {
  TModbusRegister* w = Tag(18, kWorkManual, 1);
  w->DefValue = 42;
  TModbusRegister* bad = Tag(18, kWorkManual, 2);
  bad->DefValue = "не число";
  TModbusRegister* flag = Tag(11, kWorkManual, 3);
  flag->DefValue = "xyz";
  flag->SetValue(true);
  bad->SetValue(9);
  device->Space().WriteWord(100, kHoldingRegs, 2, 7);
  ResetSpace(*device);
  EXPECT_EQ(device->Space().ReadWord(1, kHoldingRegs, 2), 42);
  EXPECT_EQ(bad->GetValue().ToInt64(), 0);
  EXPECT_FALSE(flag->GetValue().ToBool());
  EXPECT_EQ(device->Space().ReadWord(100, kHoldingRegs, 2), 0);
  EXPECT_TRUE(w->LastOPCValue.SameAs(w->GetValue()));
}

TEST_F(Sim, BehaviourTexts) {
  TModbusRegister* tag = Tag(18, kWorkIncrement);
  tag->IncDec = 2;
  tag->Min = 1;
  tag->Max = 9;
  tag->Sin.Amplitude = 100;
  tag->Sin.Period = 1000;
  tag->Pila.Amplitude = 5;
  tag->Pila.Period = 2000;
  tag->SetType(18);
  const std::pair<uint8_t, const char*> rows[] = {{kWorkIncrement, "Инкремент 2"},
                                                  {kWorkRandom, "Диапазон: min=1, max=9"},
                                                  {kWorkManual, "Ручной ввод данных"},
                                                  {kWorkSine, "100 * sin(T=1000 ms)"},
                                                  {kWorkSaw, "Пила: A=5, T = 2000 ms"},
                                                  {kWorkScript, "Скрипт"},
                                                  {kWorkOPC, "OPC тег"},
                                                  {9, ""}};
  for (const auto& [work, text] : rows) {
    tag->WorkType = work;
    EXPECT_EQ(BehaviourText(*tag), text);
  }
}

}  // namespace
}  // namespace velkor

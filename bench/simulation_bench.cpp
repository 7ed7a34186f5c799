// The update pass rewrites every tag on every cycle by design, so its cost per tag decides
// how big a project can be. A server with 100 devices × 1,000 numeric tags (half manual,
// the rest increment, random, sine and saw): the time of one full pass, ns per tag, and
// the update thread's share of one core while the project runs.

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "BenchUtil.h"
#include "model/ModbusRegister.h"
#include "serving/ModbusServerList.h"
#include "simulation/Behaviours.h"
#include "simulation/ProjectRunner.h"

namespace velkor {
namespace {

void Build(TModbusServerList& list, int devices, int tags) {
  auto server = std::make_unique<TModbusTCPServer>();
  server->SetName("S");
  server->Port = 0;
  const uint16_t types[] = {18, 2, 3, 19, 4, 5, 20, 7};
  for (int d = 0; d < devices; ++d) {
    auto device = std::make_unique<TDeviceClass>();
    device->SetName(Named("D", d));
    device->Number = uint8_t(d % 247 + 1);
    TDeviceClass* raw = server->Devices().Add(std::move(device));
    for (int t = 0; t < tags; ++t) {
      auto tag = std::make_unique<TModbusRegister>();
      tag->SetName(Named("T", t));
      tag->SetType(types[t % 8]);
      tag->Addr = uint16_t(t * 4);
      // Half manual; the rest cycle through the generated behaviours.
      const uint8_t behaviours[] = {kWorkIncrement, kWorkRandom, kWorkSine, kWorkSaw};
      tag->WorkType = t % 2 ? kWorkManual : behaviours[(t / 2) % 4];
      tag->Min = 0;
      tag->Max = 1000;
      tag->Sin.Amplitude = 100;
      tag->Sin.Offset = 200;
      tag->Sin.Period = 1000;
      tag->Pila.Amplitude = 100;
      tag->Pila.Offset = 100;
      tag->Pila.Period = 1000;
      tag->SetValue(1);
      raw->AddTag(std::move(tag));
    }
  }
  list.Add(std::move(server));
}

}  // namespace
}  // namespace velkor

int main() {
  using namespace velkor;
  using Clock = std::chrono::steady_clock;
  constexpr int kDevices = 100, kTags = 1000;
  std::printf("update pass: %d devices x %d tags (2 cores shared with nothing else)\n", kDevices,
              kTags);
  TModbusServerList list;
  Build(list, kDevices, kTags);
  list.Items(0)->Start();  // Poll passes only over running servers

  auto pass = [&] { list.Poll([](TDeviceClass& device) { UpdatePass(device); }); };
  pass();  // warm: first conversions of parameters
  constexpr int kPasses = 50;
  const auto t0 = Clock::now();
  for (int i = 0; i < kPasses; ++i) pass();
  const double seconds = std::chrono::duration<double>(Clock::now() - t0).count() / kPasses;
  std::printf("  one full pass: %.2f ms, %.1f ns per tag\n", seconds * 1e3,
              seconds * 1e9 / (kDevices * kTags));
  list.Items(0)->Stop();

  // The project running: the update thread's cycle is the pass plus its 10 ms sleep.
  ProjectRunner runner;
  list.SetHooks(&runner);
  list.Start(false);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const double cpu0 = CpuSeconds();
  const auto w0 = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(3));
  const double share =
      (CpuSeconds() - cpu0) / std::chrono::duration<double>(Clock::now() - w0).count();
  list.Stop();
  std::printf(
      "  update thread running: %.0f%% of one core (pass ~%.1f ms + 10 ms sleep per cycle)\n",
      share * 100, seconds * 1e3);
  return 0;
}

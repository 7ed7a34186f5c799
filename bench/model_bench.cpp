// Figures of the device model that bound project size: the per-tag cost the update pass
// pays on every cycle (read back, then set), the memory of a device, and the registry at
// 100,000 tags (loading, lookups by full name, unique names).

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <memory>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "model/DeviceClass.h"
#include "model/ModbusRegister.h"
#include "model/TagRegistry.h"

namespace velkor {
namespace {

struct Server : ServerNode {};

// One pass step without the behaviour: SetValue(ReadTagFromSpace()) under the device
// lock, as the update pass runs it, over 1,000 tags of one type.
void BM_ReadBackAndSet(benchmark::State& state) {
  const auto type = uint16_t(state.range(0));
  Server server;
  server.SetName("S");
  TDeviceClass* device = server.Devices().Add(std::make_unique<TDeviceClass>());
  std::vector<TModbusRegister*> tags;
  for (int i = 0; i < 1000; ++i) {
    auto tag = std::make_unique<TModbusRegister>();
    tag->SetName(Named("T", i));
    tag->SetType(type);
    tag->Addr = uint16_t(i * 4);
    tag->BitAddr = uint8_t(i % 16);
    tag->SetValue(i % 2);
    tags.push_back(device->AddTag(std::move(tag)));
  }
  auto lock = device->Lock();
  for (auto _ : state) {
    for (TModbusRegister* tag : tags) {
      if (!tag->TryLockTag()) continue;
      tag->SetValue(tag->ReadTagFromSpace());
      tag->UnlockTag();
    }
  }
  state.SetItemsProcessed(state.iterations() * int64_t(tags.size()));
  state.SetLabel(VarTypeName(VarType(type)));
}
BENCHMARK(BM_ReadBackAndSet)
    ->Arg(18)
    ->Arg(2)
    ->Arg(3)
    ->Arg(19)
    ->Arg(20)
    ->Arg(4)
    ->Arg(5)
    ->Arg(7)
    ->Arg(11);

// The same step over 100 devices × 1,000 Word and Double tags: the working set is far
// beyond the caches, as in a big project.
void BM_ReadBackAndSetAt100k(benchmark::State& state) {
  Server server;
  server.SetName("S");
  std::vector<TDeviceClass*> devices;
  for (int d = 0; d < 100; ++d) {
    TDeviceClass* device = server.Devices().Add(std::make_unique<TDeviceClass>());
    device->SetName(Named("D", d));
    devices.push_back(device);
    for (int i = 0; i < 1000; ++i) {
      auto tag = std::make_unique<TModbusRegister>();
      tag->SetName(Named("T", i));
      tag->SetType(i % 2 ? 18 : 5);
      tag->Addr = uint16_t(i * 4);
      device->AddTag(std::move(tag));
    }
  }
  for (auto _ : state) {
    for (TDeviceClass* device : devices) {
      auto lock = device->Lock();
      for (const auto& tag : device->Tags()) {
        if (!tag->TryLockTag()) continue;
        tag->SetValue(tag->ReadTagFromSpace());
        tag->UnlockTag();
      }
    }
  }
  state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_ReadBackAndSetAt100k)->Unit(benchmark::kMillisecond);

size_t HeapInUse() { return mallinfo2().uordblks + mallinfo2().hblkhd; }

void BM_DeviceMemory(benchmark::State& state) {
  for (auto _ : state) {
    const size_t before = HeapInUse();
    auto device = std::make_unique<TDeviceClass>();
    state.counters["bytes_per_device"] = double(HeapInUse() - before);
    benchmark::DoNotOptimize(device.get());
  }
}
BENCHMARK(BM_DeviceMemory)->Iterations(5);

// 100 devices × 1,000 tags in groups of 100: build time and heap per tag.
struct BigProject {
  Server server;
  std::vector<TDeviceClass*> devices;
  BigProject() {
    server.SetName("S");
    for (int d = 0; d < 100; ++d) {
      TDeviceClass* device = server.Devices().Add(std::make_unique<TDeviceClass>());
      device->SetName(Named("Dev", d));
      devices.push_back(device);
      for (int g = 0; g < 10; ++g) {
        TGroupClass* group = device->AddGroup(std::make_unique<TGroupClass>(Named("G", g)));
        for (int t = 0; t < 100; ++t) {
          auto tag = std::make_unique<TModbusRegister>();
          tag->SetName(Named("Reg", t));
          tag->Addr = uint16_t(g * 100 + t);
          device->AddTag(std::move(tag), group);
        }
      }
    }
  }
};

void BM_Build100kTags(benchmark::State& state) {
  for (auto _ : state) {
    const size_t before = HeapInUse();
    auto project = std::make_unique<BigProject>();
    state.counters["heap_MB"] = double(HeapInUse() - before) / 1e6;
    state.PauseTiming();
    project.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_Build100kTags)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_FindByFullNameAt100k(benchmark::State& state) {
  BigProject project;
  std::vector<std::string> names;
  for (int i = 0; i < 1000; ++i) {
    std::string name = Named("S.Dev", i % 100);
    name += ".G";
    name += std::to_string(i % 10);
    name += ".Reg";
    name += std::to_string(i % 100);
    names.push_back(std::move(name));
  }
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(Registry().FindByFullName(names[i++ % 1000]));
  state.counters["tags"] = Registry().Count();
}
BENCHMARK(BM_FindByFullNameAt100k);

// A rename of a device invalidates the index; the next lookup rebuilds it in one pass.
void BM_LookupAfterRenameAt100k(benchmark::State& state) {
  BigProject project;
  int k = 0;
  for (auto _ : state) {
    project.devices[0]->SetName(Named("Renamed", k++));
    benchmark::DoNotOptimize(Registry().FindByFullName("S.Dev1.G1.Reg1"));
  }
}
BENCHMARK(BM_LookupAfterRenameAt100k)->Unit(benchmark::kMillisecond);

// UniqueTagName in a group whose 100 tags are Reg0..Reg99 plus Reg, Reg_1 .. Reg_99:
// the 101st candidate is free.
void BM_UniqueTagNameAt100k(benchmark::State& state) {
  BigProject project;
  TDeviceClass* device = project.devices[5];
  TGroupClass* group = device->FindGroup("S.Dev5.G3");
  for (int t = 0; t < 100; ++t) {
    auto tag = std::make_unique<TModbusRegister>();
    tag->SetName(device->UniqueTagName(group, "Reg"));
    device->AddTag(std::move(tag), group);
  }
  for (auto _ : state) benchmark::DoNotOptimize(device->UniqueTagName(group, "Reg"));
}
BENCHMARK(BM_UniqueTagNameAt100k)->Unit(benchmark::kMicrosecond);

// Copying a device's 1,000 tags (10 groups) into the same device, as copy and paste does.
void BM_CloneGroupsAt100k(benchmark::State& state) {
  BigProject project;
  TDeviceClass* device = project.devices[7];
  for (auto _ : state) {
    for (int g = 0; g < 10; ++g) device->FindGroup(Named("S.Dev7.G", g))->Clone(device, nullptr);
    state.PauseTiming();
    while (device->RootGroup().Children().Count() > 10)
      device->DeleteGroup(device->RootGroup().Children().Items(10));
    state.ResumeTiming();
  }
}
BENCHMARK(BM_CloneGroupsAt100k)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
}  // namespace velkor

BENCHMARK_MAIN();

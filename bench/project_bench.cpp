// Project files at size: 100 devices × 1,000 tags (mixed types and behaviours, in ten
// groups per device) saved and loaded, with the time of each and the peak memory of the
// process (what a user opening such a project needs).

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "BenchUtil.h"
#include "model/ModbusRegister.h"
#include "project/ProjectFile.h"

namespace velkor {
namespace {

long PeakRssMb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
}

void Build(Project& project, int devices, int tags) {
  auto server = std::make_unique<TModbusTCPServer>();
  server->SetName("S");
  const uint16_t types[] = {18, 2, 3, 19, 4, 5, 20, 7, 11, 256};
  for (int d = 0; d < devices; ++d) {
    auto device = std::make_unique<TDeviceClass>();
    device->SetName(Named("D", d));
    TDeviceClass* raw = server->Devices().Add(std::move(device));
    std::vector<TGroupClass*> groups;
    for (int g = 0; g < 10; ++g)
      groups.push_back(raw->AddGroup(std::make_unique<TGroupClass>(Named("G", g))));
    for (int t = 0; t < tags; ++t) {
      auto tag = std::make_unique<TModbusRegister>();
      tag->SetName(Named("T", t));
      tag->SetType(types[t % 10]);
      if (tag->Type() == VarType::String) tag->SetRegsCount(4);
      tag->Addr = uint16_t(t * 4);
      tag->WorkType = uint8_t(t % 5);
      tag->IncDec = 1;
      tag->SetValue(t % 2);
      raw->AddTag(std::move(tag), groups[size_t(t % 10)]);
    }
  }
  project.Servers.Add(std::move(server));
}

}  // namespace
}  // namespace velkor

int main() {
  using namespace velkor;
  using Clock = std::chrono::steady_clock;
  const auto path = std::filesystem::temp_directory_path() / "velkor-bench-project.xml";
  long built;
  double saveSeconds, loadSeconds;
  {
    Project project;
    Build(project, 100, 1000);
    built = PeakRssMb();
    const auto t0 = Clock::now();
    SaveProject(project, path.string());
    saveSeconds = std::chrono::duration<double>(Clock::now() - t0).count();
  }
  {
    Project project;
    const auto t0 = Clock::now();
    LoadProject(project, path.string());
    loadSeconds = std::chrono::duration<double>(Clock::now() - t0).count();
    std::printf("project of %d devices, %d tags: file %.1f MB\n", project.DeviceCount(),
                project.TagCount(), double(std::filesystem::file_size(path)) / 1e6);
  }
  std::printf("  save %.2f s, load %.2f s (target: each under 2 s)\n", saveSeconds, loadSeconds);
  std::printf("  peak memory %ld MB (after building in memory: %ld MB)\n", PeakRssMb(), built);
  std::filesystem::remove(path);
  return 0;
}

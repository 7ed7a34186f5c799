// The tag editor and the tag search on big projects: ShowTagList for a device of 10,000
// tags, a sort by each column, "Принять" on one tag of that device (which rebuilds the
// list), and a search by name over 100,000 tags in every mode. Targets: ShowTagList
// 150 ms, a sort 50 ms, "Принять" 200 ms, a search 100 ms. Each figure is the best of a
// few runs, on a shown window (offscreen platform), so the view's work is counted.

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <memory>

#include "BenchUtil.h"
#include "model/DeviceClass.h"
#include "model/ModbusRegister.h"
#include "model/TagRegistry.h"
#include "project/ConstGroups.h"
#include "project/Session.h"
#include "ui/FindTagForm.h"
#include "ui/TagEditor.h"

namespace velkor {
namespace {

TDeviceClass* AddDevice(Session& session, const char* serverName, int tags) {
  auto server = std::make_unique<TModbusTCPServer>();
  server->SetName(serverName);
  TDeviceClass* device = server->Devices().Add(std::make_unique<TDeviceClass>());
  for (int i = 0; i < tags; ++i) {
    auto tag = std::make_unique<TModbusRegister>();
    // Names out of order, so the sort has work to do.
    tag->SetName(Named(i % 3 ? "Tag" : "tag", (i * 7919) % tags));
    tag->SetType(i % 2 ? 18 : 4);
    tag->Addr = uint16_t((i * 104729) % 60000);
    device->AddTag(std::move(tag));
  }
  session.Servers().Add(std::move(server));
  return device;
}

template <class F>
double BestMs(int runs, F&& f) {
  double best = 1e9;
  for (int r = 0; r < runs; ++r) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    const auto t1 = std::chrono::steady_clock::now();
    best = std::min(best, std::chrono::duration<double, std::milli>(t1 - t0).count());
  }
  return best;
}

void Report(const char* what, double ms, double target) {
  std::printf("%-44s %8.2f ms  (target %6.0f ms, %s)\n", what, ms, target,
              ms <= target ? "ok" : "OVER");
}

}  // namespace
}  // namespace velkor

int main(int argc, char** argv) {
  using namespace velkor;
  qputenv("QT_QPA_PLATFORM",
          qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  QApplication app(argc, argv);
  Session session;
  TDeviceClass* device = AddDevice(session, "Edit", 10000);
  TagEditor editor(session.GetProject().ConstGroups);
  editor.resize(900, 700);
  editor.show();
  QApplication::processEvents();

  Report("ShowTagList, 10,000 tags",
         BestMs(5,
                [&] {
                  editor.ShowTagList(device, nullptr, nullptr);
                  QApplication::processEvents();
                }),
         150);
  Report("sort by name (header click)",
         BestMs(5,
                [&] {
                  editor.HeaderClicked(ListColName);
                  QApplication::processEvents();
                }),
         50);
  Report("sort by address (header click)",
         BestMs(5,
                [&] {
                  editor.HeaderClicked(ListColAddress);
                  QApplication::processEvents();
                }),
         50);
  TModbusRegister* tag = device->Tags().Items(5000);
  editor.ShowTagList(device, nullptr, tag);
  Report("Принять on one tag of 10,000",
         BestMs(5,
                [&] {
                  editor.ApplyClick();
                  QApplication::processEvents();
                }),
         200);

  for (int d = 0; d < 9; ++d) AddDevice(session, Named("S", d).c_str(), 10000);
  std::printf("registry: %d tags\n", Registry().Count());
  struct Mode {
    const char* what;
    SearchCriteria criteria;
  } modes[] = {
      {"search 100,000: contains, any case", {false, false, false, "tag12"}},
      {"search 100,000: contains, with case", {false, false, true, "Tag12"}},
      {"search 100,000: exact, any case", {false, true, false, "tag123"}},
      {"search 100,000: address", {true, false, false, "100"}},
  };
  for (const Mode& mode : modes) {
    size_t found = 0;
    const double ms = BestMs(5, [&] { found = FindTags(mode.criteria).size(); });
    Report(mode.what, ms, 100);
    std::printf("  (%zu found)\n", found);
  }
  editor.Clear();
  return 0;
}

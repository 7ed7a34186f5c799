// The refresh tick of the main window's "Состояние" page with a device of 10,000 tags
// selected while the project runs: every value changing between ticks, and 100 of them.
// Two figures each: the real tick (it reads only the rows the view shows) and a refresh of
// all 10,000 rows, the cost if every row were on screen, each changed row announced to a
// real table view. Targets: 5 ms per tick with every value changing, 0.5 ms with 100.

#include <QApplication>
#include <QTableView>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include "BenchUtil.h"
#include "model/DeviceClass.h"
#include "model/ModbusRegister.h"
#include "project/Session.h"
#include "ui/MainForm.h"
#include "ui/TagTableModel.h"

namespace velkor {
namespace {

constexpr int kTags = 10000;
constexpr int kTicks = 60;

QString WriteProject(const QString& path) {
  Session session;
  auto server = std::make_unique<TModbusTCPServer>();
  server->SetName("Bench");
  server->Port = 0;
  TDeviceClass* device = server->Devices().Add(std::make_unique<TDeviceClass>());
  device->SetName("Big");
  for (int i = 0; i < kTags; ++i) {
    auto tag = std::make_unique<TModbusRegister>();
    tag->SetName(Named("T", i));
    tag->SetType(i % 2 ? 18 : 4);  // Word and Float, two registers apart
    tag->Addr = uint16_t(i * 2);
    tag->WorkType = kWorkManual;
    device->AddTag(std::move(tag));
  }
  session.Servers().Add(std::move(server));
  session.Save(path.toStdString());
  return path;
}

struct Figures {
  double meanMs, maxMs;
};

template <typename Change, typename Tick>
Figures Measure(Change change, Tick tick) {
  using Clock = std::chrono::steady_clock;
  std::vector<double> ms;
  for (int t = 0; t < kTicks; ++t) {
    change(t);
    const auto start = Clock::now();
    tick();
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  double sum = 0;
  for (double v : ms) sum += v;
  return {sum / double(ms.size()), *std::max_element(ms.begin(), ms.end())};
}

}  // namespace
}  // namespace velkor

int main(int argc, char** argv) {
  using namespace velkor;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QTemporaryDir dir;
  TMainForm form;
  form.show();
  QApplication::processEvents();
  if (!form.OpenProject(WriteProject(dir.filePath("big.xml")))) return 1;
  TDeviceClass* device = form.GetSession().Servers().Items(0)->Devices().Items(0);
  form.DevicesTree()->setCurrentItem(form.FindNodeOf(device));
  form.StartEmulation(true);
  if (!form.Running()) return 1;
  QApplication::processEvents();
  TagTableModel* model = form.RegsModel();
  std::vector<TModbusRegister*> tags = model->Tags();
  QTableView* view = form.RegsListView();
  std::printf(
      "ui_bench: %d tags selected, rows %d..%d on screen, %d ticks each, the update "
      "thread running\n",
      int(tags.size()), view->rowAt(0), view->rowAt(view->viewport()->height() - 1), kTicks);

  auto changeAll = [&](int t) {
    for (size_t i = 0; i < tags.size(); ++i) tags[i]->SetValueLocked(Variant(int(i % 1000) + t));
  };
  auto changeHundred = [&](int t) {
    for (size_t i = 0; i < tags.size(); i += tags.size() / 100)
      tags[i]->SetValueLocked(Variant(int(i % 1000) + t));
  };
  auto windowTick = [&] { form.Timer1Timer(); };
  auto wholeList = [&] { model->Refresh(0, model->rowCount() - 1); };
  struct Row {
    const char* what;
    Figures f;
    double targetMs;
  } rows[] = {
      {"tick (visible rows), every value changing", Measure(changeAll, windowTick), 5.0},
      {"tick (visible rows), 100 of 10,000 changing", Measure(changeHundred, windowTick), 0.5},
      {"all 10,000 rows read, every value changing", Measure(changeAll, wholeList), 5.0},
      {"all 10,000 rows read, 100 changing", Measure(changeHundred, wholeList), 0.5},
  };
  bool ok = true;
  for (const Row& row : rows) {
    const bool met = row.f.meanMs <= row.targetMs;
    ok = ok && met;
    std::printf("  %-46s mean %7.3f ms  max %7.3f ms  (target <= %.1f ms: %s)\n", row.what,
                row.f.meanMs, row.f.maxMs, row.targetMs, met ? "met" : "MISSED");
  }
  form.StopEmulation();
  return ok ? 0 : 1;
}

// The editing commands at project sizes users reach: pasting a copied group of 10,000 tags
// (target 1 s), deleting a device with 10,000 tags (0.5 s), and the tree rebuilt after a
// command with 1,000 devices and 10,000 groups (0.3 s), both the bare rebuild and a whole
// "Переместить вниз" through the window (rebuild, collapsed nodes kept, page and commands).

#include <QAction>
#include <QApplication>
#include <QTreeWidget>
#include <chrono>
#include <cstdio>
#include <memory>

#include "BenchUtil.h"
#include "model/DeviceClass.h"
#include "model/ModbusRegister.h"
#include "project/Session.h"
#include "ui/MainForm.h"
#include "ui/TreeEditing.h"

namespace velkor {
namespace {

using Clock = std::chrono::steady_clock;
double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Every question answered "Отмена": the benchmarks use no dialog.
struct NoPrompts : EditPrompts {
  bool AskServer(ServerFields&) override { return false; }
  bool AskDevice(DeviceFields&, const std::string&, bool) override { return false; }
  bool AskText(const std::string&, std::string&) override { return false; }
  std::string AskOpenTemplate() override { return {}; }
  std::string AskSaveTemplate() override { return {}; }
  void Error(const std::string&) override {}
  void Information(const std::string&) override {}
  bool AskYesNo(const std::string&) override { return false; }
  void ShowTagList(const std::vector<std::string>&) override {}
};

TDeviceClass* AddDevice(TModbusTCPServer& server, const std::string& name) {
  auto device = std::make_unique<TDeviceClass>();
  device->SetName(name);
  return server.Devices().Add(std::move(device));
}

void FillTags(TDeviceClass& device, TGroupClass* group, int count) {
  for (int i = 0; i < count; ++i) {
    auto tag = std::make_unique<TModbusRegister>();
    tag->SetName(Named("T", i));
    tag->Addr = uint16_t(i);
    device.AddTag(std::move(tag), group);
  }
}

constexpr int kTags = 10000;

void PasteGroup() {
  Session session;
  NoPrompts prompts;
  TreeEditor editor(session, prompts);
  auto* server = session.Servers().Add(std::make_unique<TModbusTCPServer>());
  server->SetName("S");
  TDeviceClass* source = AddDevice(*server, "Src");
  TGroupClass* group = source->AddGroup(std::make_unique<TGroupClass>("G"));
  FillTags(*source, group, kTags);
  TDeviceClass* target = AddDevice(*server, "Dst");
  editor.CopyNode(NodeObject::Of(group));
  for (int round = 1; round <= 3; ++round) {
    const auto start = Clock::now();
    editor.Paste(NodeObject::Of(round == 3 ? source : target));
    std::printf("paste of a copied group of %d tags (%s, round %d): %.1f ms (target 1000 ms)\n",
                kTags, round == 3 ? "into its own device" : "into another device", round,
                MsSince(start));
  }
  std::printf("  (tags now: source %d, target %d)\n", source->Tags().Count(),
              target->Tags().Count());
}

void DeleteDevice() {
  Session session;
  NoPrompts prompts;
  TreeEditor editor(session, prompts);
  auto* server = session.Servers().Add(std::make_unique<TModbusTCPServer>());
  server->SetName("S");
  TDeviceClass* keep = AddDevice(*server, "Keep");
  FillTags(*keep, nullptr, kTags);
  TDeviceClass* doomed = AddDevice(*server, "Doomed");
  TGroupClass* group = doomed->AddGroup(std::make_unique<TGroupClass>("G"));
  FillTags(*doomed, group, kTags);
  editor.CopyTags({keep->Tags().Items(0)});  // a clipboard to prune
  const auto start = Clock::now();
  editor.DeleteDevice(doomed);
  std::printf("delete of a device with %d tags (another with %d stays): %.1f ms (target 500 ms)\n",
              kTags, kTags, MsSince(start));
  std::printf("  (devices left: %d)\n", server->Devices().Count());
}

void RebuildTree() {
  TMainForm form;
  Session& session = form.GetSession();
  constexpr int kServers = 10, kDevices = 1000, kGroups = 10000;
  for (int s = 0; s < kServers; ++s) {
    auto* server = session.Servers().Add(std::make_unique<TModbusTCPServer>());
    server->SetName(Named("S", s));
    for (int d = 0; d < kDevices / kServers; ++d) {
      TDeviceClass* device = AddDevice(*server, Named("D", d));
      // Ten groups per device: five top-level ones with one sub-group each.
      for (int g = 0; g < kGroups / kDevices / 2; ++g) {
        TGroupClass* top = device->AddGroup(std::make_unique<TGroupClass>(Named("G", g)));
        device->AddGroup(std::make_unique<TGroupClass>("Sub", top));
      }
    }
  }
  form.show();
  for (int round = 1; round <= 3; ++round) {
    const auto start = Clock::now();
    form.BuildTree(form.DevicesTree(), true);
    std::printf("tree rebuild, %d devices and %d groups (round %d): %.1f ms (target 300 ms)\n",
                kDevices, kGroups, round, MsSince(start));
  }
  // A whole command: the first device moves down; the window rebuilds and reselects.
  TDeviceClass* moved = session.Servers().Items(0)->Devices().Items(0);
  QTreeWidgetItem* node = form.FindNodeOf(moved);
  form.DevicesTree()->setCurrentItem(node);
  node->setExpanded(false);
  for (int round = 1; round <= 3; ++round) {
    const auto start = Clock::now();
    form.Action(Cmd::MoveDown)->trigger();
    std::printf("\"Переместить вниз\" with the same tree (round %d): %.1f ms (target 300 ms)\n",
                round, MsSince(start));
  }
  std::printf("  (the device now at index %d, still collapsed: %s)\n",
              session.Servers().Items(0)->Devices().IndexOf(moved),
              form.FindNodeOf(moved)->isExpanded() ? "no" : "yes");
}

}  // namespace
}  // namespace velkor

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM",
          qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  QApplication app(argc, argv);
  velkor::PasteGroup();
  velkor::DeleteDevice();
  velkor::RebuildTree();
  return 0;
}

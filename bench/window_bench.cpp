// What the window costs next to headless, measured in one run on a project of 100,000
// tags (10 devices of 10,000):
//  - opening: the main window's OpenProject (reset, load, tree, page) against what
//    `velkor --check` does (load, compile the scripts); target ratio 1.5;
//  - serving: Modbus TCP throughput (8 connections x 8 pipelined reads) while the window
//    shows a live "Состояние" page of 10,000 tags and refreshes it every 500 ms, against the
//    same session with no window; target within 5 %;
//  - memory: resident size of a `velkor` window process that opened the project and runs
//    it (automatic start), against `velkor --headless` on the same file; target ratio 1.3.
// The load generator is one epoll thread in this process; the runs alternate.

#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "BenchUtil.h"
#include "model/DeviceClass.h"
#include "model/ModbusRegister.h"
#include "project/Session.h"
#include "tcp_load.h"
#include "ui/MainForm.h"

namespace velkor {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kDevices = 10;
constexpr int kTagsPerDevice = 10000;

double Since(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

uint16_t FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}

void WriteProject(const std::string& path, uint16_t port) {
  Session session;
  auto server = std::make_unique<TModbusTCPServer>();
  server->SetName("Bench");
  server->Port = port;
  for (int d = 0; d < kDevices; ++d) {
    TDeviceClass* device = server->Devices().Add(std::make_unique<TDeviceClass>());
    device->SetName(Named("D", d));
    device->Number = uint8_t(d + 1);
    for (int i = 0; i < kTagsPerDevice; ++i) {
      auto tag = std::make_unique<TModbusRegister>();
      tag->SetName(Named("T", i));
      tag->SetType(18);
      tag->Addr = uint16_t(i);
      tag->WorkType = kWorkIncrement;
      tag->Period = 500;
      device->AddTag(std::move(tag));
    }
  }
  session.Servers().Add(std::move(server));
  session.Save(path);
}

double LoadRate(uint16_t port) {
  TLoadConfig config;
  config.Port = port;
  config.Connections = 8;
  config.Pipeline = 8;
  config.Seconds = 3;
  return RunLoad(config).RequestsPerSecond;
}

long RssKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

// Starts the program, waits until the port answers, lets it settle, and reads its size.
long ServeAndMeasure(const std::string& exe, const std::vector<std::string>& args,
                     const std::string& configHome, uint16_t port) {
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
    std::vector<char*> argv{const_cast<char*>(exe.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    freopen("/dev/null", "w", stderr);
    execv(exe.c_str(), argv.data());
    _exit(127);
  }
  const auto t0 = Clock::now();
  bool up = false;
  while (!up && Since(t0) < 60000) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    up = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    if (!up) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::this_thread::sleep_for(std::chrono::seconds(3));
  const long rss = up ? RssKiB(pid) : -1;
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  return rss;
}

}  // namespace
}  // namespace velkor

int main(int argc, char** argv) {
  using namespace velkor;
  QTemporaryDir dir;
  const std::string path = dir.filePath("big.xml").toStdString();
  const uint16_t port = FreePort();
  WriteProject(path, port);
  qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8());
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  std::printf("Window against headless, %d devices x %d tags, port %u\n", kDevices,
              kTagsPerDevice, unsigned(port));

  // Opening, three times each, alternating; best of each.
  double check = 1e18, window = 1e18;
  for (int round = 0; round < 3; ++round) {
    {
      Session session;
      const auto t0 = Clock::now();
      session.Load(path);
      session.CompileScripts();
      check = std::min(check, Since(t0));
    }
    {
      TMainForm form;
      form.show();
      const auto t0 = Clock::now();
      form.OpenProject(QString::fromStdString(path));
      QApplication::processEvents();
      window = std::min(window, Since(t0));
    }
  }
  std::printf("  open: --check path %.0f ms, window %.0f ms, ratio %.2f (target <= 1.5)\n", check,
              window, window / check);

  // Serving with and without a live page, alternating.
  double withWindow = 0, without = 0;
  for (int round = 0; round < 2; ++round) {
    {
      Session session;
      session.Load(path);
      session.Start(false, true);
      without += LoadRate(port) / 2;
      session.Stop();
    }
    {
      TMainForm form;
      form.show();
      form.OpenProject(QString::fromStdString(path));
      // Show the first device's live page, as a user watching values would.
      QTreeWidgetItem* node = form.FindNodeOf(form.GetSession().Servers().Items(0)->Devices().Items(0));
      form.DevicesTree()->setCurrentItem(node);
      form.StartEmulation(true);
      double rate = 0;
      std::thread load([&] { rate = LoadRate(port); });
      const auto t0 = Clock::now();
      while (Since(t0) < 3500) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
        form.Timer1Timer();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      load.join();
      withWindow += rate / 2;
      form.StopEmulation();
    }
  }
  std::printf("  TCP 8x8 reads: headless %.0f req/s, window with a live page %.0f req/s, "
              "%+.1f %% (target within 5 %%)\n",
              without, withWindow, (withWindow / without - 1) * 100);

  // Memory of the two programs, each serving the file.
  const std::string exe = QDir(QCoreApplication::applicationDirPath() + "/../src/app")
                              .filePath("velkor")
                              .toStdString();
  const std::string config = dir.filePath("autostart-config").toStdString();
  QDir().mkpath(QString::fromStdString(config + "/Velkor"));
  std::ofstream(config + "/Velkor/Velkor.conf") << "[General]\nAutoStart=1\n";
  const long headless = ServeAndMeasure(exe, {"--headless", path}, config, port);
  const long windowed = ServeAndMeasure(exe, {path}, config, port);
  std::printf("  memory: headless %ld KiB, window %ld KiB, ratio %.2f (target <= 1.3)\n",
              headless, windowed, double(windowed) / double(headless));
  return 0;
}

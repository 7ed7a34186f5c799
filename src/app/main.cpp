// velkor: the program's entry point. Today it runs projects without a window:
//   velkor --headless PROJECT.xml [--zero-regs]   serve until SIGINT or SIGTERM
//   velkor --check PROJECT.xml [--save-as OUT.xml] load, summarise, compile the scripts,
//                                                  optionally rewrite
// Exit statuses: 0 success, 2 bad usage, a project that cannot be loaded or a failed start,
// 3 a tag script that does not compile.

#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "app/Version.h"
#include "model/ModbusRegister.h"
#include "project/ProjectFile.h"
#include "runtime/CrashReport.h"
#include "runtime/Log.h"
#include "simulation/ProjectRunner.h"
#include "simulation/TagScripts.h"

namespace velkor {
namespace {

constexpr int kExitUsage = 2;
constexpr int kExitLoad = 2;
constexpr int kExitStart = 2;
constexpr int kExitScript = 3;

void PrintHelp() {
  std::printf(
      "Usage: velkor --headless PROJECT.xml [--zero-regs]\n"
      "       velkor --check PROJECT.xml [--save-as OUT.xml]\n"
      "Modbus slave emulator.\n\n"
      "  --headless PROJECT  load the project and serve it until SIGINT or SIGTERM;\n"
      "                      server messages and tag errors go to standard error\n"
      "  --zero-regs         with --headless: clear the tables and give every tag its\n"
      "                      default value before serving\n"
      "  --check PROJECT     load the project, print servers=N devices=N tags=N and\n"
      "                      compile every tag script; each one that fails is named on\n"
      "                      standard error with the text (start, execute, stop) and\n"
      "                      the line and column within it\n"
      "  --save-as OUT       with --check: write the project again to OUT\n"
      "  --help              show this help and exit\n"
      "  --version           show the version and exit\n\n"
      "Exit status: 0 success, 2 bad usage, a project that cannot be loaded or a start\n"
      "that failed (a start script raised an error), 3 a tag script that does not\n"
      "compile (--check).\n");
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "velkor: %s\nTry 'velkor --help'.\n", message.c_str());
  return kExitUsage;
}

struct Options {
  std::string headless, check, saveAs;
  bool zeroRegs = false;
};

bool Load(Project& project, const std::string& path) {
  try {
    LoadProject(project, path);
    return true;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "velkor: cannot load %s: %s\n", path.c_str(), e.what());
    return false;
  }
}

// Compiles every script tag and names each that fails; true when all compile.
bool ReportScriptErrors(Project& project, TagScripts& scripts) {
  const std::vector<std::string> functions = project.Functions.ScriptLines();
  bool ok = true;
  for (const auto& server : project.Servers)
    for (const auto& device : server->Devices())
      for (const auto& tag : device->Tags()) {
        if (tag->WorkType != kWorkScript) continue;
        const ScriptCompileResult result = scripts.Compile(*tag, functions);
        if (result.Ok) continue;
        ok = false;
        std::fprintf(stderr, "velkor: %s: %s script, line %d, column %d: %s\n",
                     tag->FullName().c_str(), ScriptKindName(result.Kind), result.TextLine,
                     result.Column, result.Message.c_str());
      }
  std::fflush(stderr);
  return ok;
}

int Check(const Options& options) {
  Project project;
  if (!Load(project, options.check)) return kExitLoad;
  std::printf("servers=%d devices=%d tags=%d\n", project.Servers.Count(), project.DeviceCount(),
              project.TagCount());
  std::fflush(stdout);
  TagScripts scripts;
  const bool scriptsOk = ReportScriptErrors(project, scripts);
  if (!options.saveAs.empty()) {
    try {
      SaveProject(project, options.saveAs);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "velkor: cannot save %s: %s\n", options.saveAs.c_str(), e.what());
      return kExitLoad;
    }
  }
  return scriptsOk ? 0 : kExitScript;
}

std::string Now() {
  const std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  char buf[32];
  std::strftime(buf, sizeof buf, "%d.%m.%Y %H:%M:%S", &local);
  return buf;
}

// What the main window would show as it appears: each server's new protocol entries and
// each tag's error, once.
class Reporter {
 public:
  explicit Reporter(Project& project)
      : m_project(project), m_cursors(size_t(project.Servers.Count()), 0) {}

  void Report() {
    for (int i = 0; i < m_project.Servers.Count(); ++i) {
      TModbusTCPServer* server = m_project.Servers.Items(i);
      for (const TLogRecord& record : server->Protocol.Since(m_cursors[size_t(i)]))
        std::fprintf(stderr, "%s %s: %s\n", FormatDateTime(record.Time, true).c_str(),
                     server->DisplayName().c_str(), record.Text.c_str());
      for (const auto& device : server->Devices())
        for (const auto& tag : device->Tags()) {
          LockGuard lock(tag->Lock());
          if (tag->TakeError())
            std::fprintf(stderr, "%s %s - %s\n", Now().c_str(), tag->FullName().c_str(),
                         tag->ErrorText().c_str());
        }
    }
    std::fflush(stderr);
  }

 private:
  Project& m_project;
  std::vector<uint64_t> m_cursors;
};

int Headless(const Options& options) {
  // Every thread inherits the blocked signals, so only sigtimedwait below sees them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  LogStart();
  LogMessage("Запуск Velkor");
  Project project;
  if (!Load(project, options.headless)) {
    LogMessage("Останов Velkor");
    LogStop();
    return kExitLoad;
  }
  // The tags whose scripts fail to compile do nothing; the rest of the project runs.
  TagScripts scripts;
  ReportScriptErrors(project, scripts);
  ProjectRunner runner(&scripts, project.Functions.ScriptLines());
  project.Servers.SetHooks(&runner);
  try {
    project.Servers.Start(options.zeroRegs);
  } catch (const std::exception& e) {
    // The server list has stopped whatever it started.
    project.Servers.SetHooks(nullptr);
    std::fprintf(stderr, "velkor: cannot start %s: %s\n", options.headless.c_str(), e.what());
    LogMessage("Останов Velkor");
    LogStop();
    return kExitStart;
  }
  std::fprintf(stderr, "velkor: serving %s: servers=%d devices=%d tags=%d (log: %s)\n",
               options.headless.c_str(), project.Servers.Count(), project.DeviceCount(),
               project.TagCount(), LogDirectory().c_str());
  // Say where each TCP server listens (a port of 0 in the file lets the system choose).
  for (const auto& server : project.Servers) {
    if (!server->Mode) continue;
    for (int i = 0; i < 100 && server->ListeningPort() == 0; ++i) {
      const timespec pause{0, 10 * 1000 * 1000};
      nanosleep(&pause, nullptr);
    }
    if (server->ListeningPort() != 0)
      std::fprintf(stderr, "velkor: %s: listening on port %u\n", server->DisplayName().c_str(),
                   unsigned(server->ListeningPort()));
  }
  std::fflush(stderr);

  Reporter reporter(project);
  int signal = 0;
  while (signal <= 0) {
    reporter.Report();
    const timespec wait{0, 200 * 1000 * 1000};
    signal = sigtimedwait(&stopSignals, nullptr, &wait);
  }
  std::fprintf(stderr, "velkor: %s received, stopping\n", strsignal(signal));
  int status = 0;
  try {
    project.Servers.Stop();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "velkor: stop: %s\n", e.what());
    status = kExitStart;
  }
  reporter.Report();
  project.Servers.SetHooks(nullptr);
  LogMessage("Останов Velkor");
  LogStop();
  return status;
}

int Main(int argc, char** argv) {
  Options options;
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    PrintHelp();
    return kExitUsage;
  }
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size() || args[i + 1].starts_with("--")) return false;
      out = args[++i];
      return true;
    };
    if (a == "--help" || a == "-h") {
      PrintHelp();
      return 0;
    } else if (a == "--version") {
      std::printf("velkor %s\n", VELKOR_VERSION);
      return 0;
    } else if (a == "--headless") {
      if (!value(options.headless)) return UsageError("--headless needs a project file");
    } else if (a == "--check") {
      if (!value(options.check)) return UsageError("--check needs a project file");
    } else if (a == "--save-as") {
      if (!value(options.saveAs)) return UsageError("--save-as needs a file name");
    } else if (a == "--zero-regs") {
      options.zeroRegs = true;
    } else {
      return UsageError("unknown option '" + a + "'");
    }
  }
  if (!options.headless.empty() && !options.check.empty())
    return UsageError("--headless and --check do not go together");
  if (!options.saveAs.empty() && options.check.empty())
    return UsageError("--save-as goes with --check");
  if (options.zeroRegs && options.headless.empty())
    return UsageError("--zero-regs goes with --headless");
  if (!options.check.empty()) return Check(options);
  if (!options.headless.empty()) return Headless(options);
  return UsageError("nothing to do");
}

}  // namespace
}  // namespace velkor

int main(int argc, char** argv) {
  velkor::InstallCrashHandler();
  return velkor::Main(argc, argv);
}

// velkor: the program's entry point. Without options it opens the main window:
//   velkor [PROJECT.xml]                           the window, with the project when given
//   velkor --headless PROJECT.xml [--zero-regs] [--trace FILE.txt] [--pcap FILE.pcapng]
//                                                  serve until SIGINT or SIGTERM, tracing
//                                                  every frame to a text and/or capture file
//   velkor --check PROJECT.xml [--save-as OUT.xml] load, summarise, compile the scripts,
//                                                  optionally rewrite
// Exit statuses: 0 success, 2 bad usage, a project that cannot be loaded or a failed start,
// 3 a tag script that does not compile, 4 an OPC tag whose server or item cannot work.

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "app/Version.h"
#include "model/Clock.h"
#include "model/ModbusRegister.h"
#include "model/TagRegistry.h"
#include "opc/OpcCheck.h"
#include "project/Session.h"
#include "runtime/CrashReport.h"
#include "runtime/Log.h"
#include "runtime/TracePcap.h"
#include "ui/WindowMain.h"

namespace velkor {
namespace {

constexpr int kExitUsage = 2;
constexpr int kExitLoad = 2;
constexpr int kExitStart = 2;
constexpr int kExitScript = 3;
constexpr int kExitOPC = 4;

void PrintHelp() {
  std::printf(
      "Usage: velkor [PROJECT.xml]\n"
      "       velkor --headless PROJECT.xml [--zero-regs] [--trace FILE.txt]\n"
      "                                     [--pcap FILE.pcapng]\n"
      "       velkor --check PROJECT.xml [--save-as OUT.xml]\n"
      "Modbus slave emulator.\n\n"
      "  PROJECT             without options: open the main window with the project\n"
      "  --headless PROJECT  load the project and serve it until SIGINT or SIGTERM;\n"
      "                      server messages and tag errors go to standard error\n"
      "  --zero-regs         with --headless: clear the tables and give every tag its\n"
      "                      default value before serving\n"
      "  --trace FILE        with --headless: append every frame received and sent to\n"
      "                      FILE, one line each: time - length - bytes in hex\n"
      "  --pcap FILE         with --headless: write every frame to FILE as a pcapng\n"
      "                      capture that Wireshark dissects as Modbus/TCP (RTU frames:\n"
      "                      Modbus/RTU on TCP port 5028)\n"
      "  --check PROJECT     load the project, print servers=N devices=N tags=N and\n"
      "                      compile every tag script; each one that fails is named on\n"
      "                      standard error with the text (start, execute, stop) and\n"
      "                      the line and column within it\n"
      "  --save-as OUT       with --check: write the project again to OUT\n"
      "  --help              show this help and exit\n"
      "  --version           show the version and exit\n\n"
      "Exit status: 0 success, 2 bad usage, a project that cannot be loaded or a start\n"
      "that failed (a start script raised an error), 3 a tag script that does not\n"
      "compile (--check), 4 an OPC tag whose server is no opc.tcp:// URL or whose item\n"
      "is no NodeId (--check).\n");
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "velkor: %s\nTry 'velkor --help'.\n", message.c_str());
  return kExitUsage;
}

struct Options {
  std::string headless, check, saveAs, project, trace, pcap;
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

void PrintScriptFailure(const TModbusRegister& tag, const ScriptCompileResult& result) {
  std::fprintf(stderr, "velkor: %s: %s script, line %d, column %d: %s\n", tag.FullName().c_str(),
               ScriptKindName(result.Kind), result.TextLine, result.Column,
               result.Message.c_str());
}

// Names each OPC tag whose server or item can never work; true when there is none.
bool ReportOPCProblems() {
  bool ok = true;
  Registry().ForEach([&](const TModbusRegister* tag) {
    for (const std::string& problem : OPCTagProblems(*tag)) {
      std::fprintf(stderr, "velkor: %s: %s\n", tag->FullName().c_str(), problem.c_str());
      ok = false;
    }
  });
  std::fflush(stderr);
  return ok;
}

// Compiles every script tag and names each that fails; true when all compile.
bool ReportScriptErrors(Session& session) {
  const auto failures = session.CompileScripts();
  for (const auto& failure : failures) PrintScriptFailure(*failure.Tag, failure.Result);
  std::fflush(stderr);
  return failures.empty();
}

int Check(const Options& options) {
  Session session;
  Project& project = session.GetProject();
  if (!Load(project, options.check)) return kExitLoad;
  std::printf("servers=%d devices=%d tags=%d\n", project.Servers.Count(), project.DeviceCount(),
              project.TagCount());
  std::fflush(stdout);
  const bool scriptsOk = ReportScriptErrors(session);
  const bool opcOk = ReportOPCProblems();
  if (!options.saveAs.empty()) {
    try {
      session.Save(options.saveAs);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "velkor: cannot save %s: %s\n", options.saveAs.c_str(), e.what());
      return kExitLoad;
    }
  }
  if (!scriptsOk) return kExitScript;
  return opcOk ? 0 : kExitOPC;
}

std::string FormatLocal(int64_t ms1601) {
  const std::time_t t = std::time_t((ms1601 - kEpoch1601To1970Ms) / 1000);
  std::tm local{};
  localtime_r(&t, &local);
  char buf[32];
  std::strftime(buf, sizeof buf, "%d.%m.%Y %H:%M:%S", &local);
  return buf;
}

// The headless front end: the core's events only write to an eventfd; the main thread
// wakes on it (or on a stop signal) and prints each server's new protocol entries and
// each tag's error, once.
class HeadlessHost : public HostEvents {
 public:
  explicit HeadlessHost(Session& session)
      : m_session(session), m_wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
  ~HeadlessHost() override {
    if (m_wake >= 0) close(m_wake);
  }
  int WakeFd() const { return m_wake; }

  void ProtocolChanged(const TModbusTCPServer*) override { Wake(); }
  void TagErrorsReady() override { Wake(); }
  void ShowMessage(const std::string& text) override { LogMessage(text); }
  void TraceRecordsReady() override { Wake(); }

  // Frames go to the capture as they are handed over; none is kept when there is none.
  void SetCapture(TracePcapWriter* capture) { m_capture = capture; }
  // Takes the trace records waiting; true when there were any.
  bool TakeTraces() {
    uint64_t dropped = 0;
    const auto records = m_session.TakeTraceRecords(&dropped);
    if (m_capture) {
      for (const auto& unit : records) m_capture->Write(*unit);
      m_capture->Flush();
      if (dropped > 0)
        std::fprintf(stderr, "velkor: %llu frames were dropped from the capture\n",
                     static_cast<unsigned long long>(dropped));
    }
    return !records.empty();
  }

  void Report() {
    uint64_t ignored = 0;
    if (m_wake >= 0) (void)!read(m_wake, &ignored, sizeof ignored);
    TModbusServerList& servers = m_session.Servers();
    if (m_cursors.size() != size_t(servers.Count())) m_cursors.resize(size_t(servers.Count()), 0);
    for (int i = 0; i < servers.Count(); ++i) {
      TModbusTCPServer* server = servers.Items(i);
      for (const TLogRecord& record : server->Protocol.Since(m_cursors[size_t(i)]))
        std::fprintf(stderr, "%s %s: %s\n", FormatDateTime(record.Time, true).c_str(),
                     server->DisplayName().c_str(), record.Text.c_str());
    }
    uint64_t dropped = 0;
    for (const TagErrorReport& error : m_session.TakeTagErrors(&dropped))
      std::fprintf(stderr, "%s %s - %s\n", FormatLocal(error.TimeMs).c_str(),
                   error.FullName.c_str(), error.Text.c_str());
    if (dropped > 0)
      std::fprintf(stderr, "velkor: %llu more tag errors were dropped\n",
                   static_cast<unsigned long long>(dropped));
    TakeTraces();
    std::fflush(stderr);
  }

 private:
  void Wake() {
    const uint64_t one = 1;
    if (m_wake >= 0) (void)!write(m_wake, &one, sizeof one);  // never blocks (EFD_NONBLOCK)
  }

  Session& m_session;
  int m_wake;
  std::vector<uint64_t> m_cursors;
  TracePcapWriter* m_capture = nullptr;
};

// A depth the tracer thread never reaches between two hand-overs, so a capture misses
// nothing at any rate the servers reach, while the records held stay a few megabytes.
constexpr int32_t kHeadlessTraceDepth = 10000;

bool StartTracing(Session& session, HeadlessHost& host, TracePcapWriter& capture,
                  const Options& options) {
  if (options.trace.empty() && options.pcap.empty()) return true;
  TTracer& tracer = session.Tracer();
  if (!options.trace.empty()) {
    tracer.FileName = options.trace;
    tracer.SetSaveToFile(true);
    if (!tracer.SaveToFile()) {
      std::fprintf(stderr, "velkor: cannot open trace file %s\n", options.trace.c_str());
      return false;
    }
  }
  if (!options.pcap.empty()) {
    if (!capture.Open(options.pcap)) {
      std::fprintf(stderr, "velkor: cannot create capture file %s\n", options.pcap.c_str());
      tracer.SetSaveToFile(false);
      return false;
    }
    host.SetCapture(&capture);
  }
  tracer.SetDepth(kHeadlessTraceDepth);
  tracer.SetEnabled(true);
  return true;
}

// After the stop no frame is made; the tracer thread hands over the last ones within a
// pass or two, so take until it has been quiet for a few passes (bounded).
void FinishTracing(Session& session, HeadlessHost& host, TracePcapWriter& capture) {
  TTracer& tracer = session.Tracer();
  if (!tracer.Enabled()) return;
  using namespace std::chrono;
  const auto deadline = steady_clock::now() + seconds(2);
  int quiet = 0;
  while (quiet < 5 && steady_clock::now() < deadline) {
    quiet = host.TakeTraces() ? 0 : quiet + 1;
    std::this_thread::sleep_for(milliseconds(20));
  }
  tracer.SetEnabled(false);
  tracer.SetSaveToFile(false);
  host.SetCapture(nullptr);
  if (capture.IsOpen() && !capture.Close())
    std::fprintf(stderr, "velkor: the capture file could not be written completely\n");
}

int Headless(const Options& options) {
  // Every thread inherits the blocked signals, so only the signalfd below sees them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  const int signals = signalfd(-1, &stopSignals, SFD_CLOEXEC);

  LogStart();
  LogMessage("Запуск Velkor");
  Session session;
  Project& project = session.GetProject();
  if (!Load(project, options.headless)) {
    LogMessage("Останов Velkor");
    LogStop();
    return kExitLoad;
  }
  // The tags whose scripts fail to compile do nothing; the rest of the project runs.
  ReportScriptErrors(session);
  HeadlessHost host(session);
  Session::Subscription subscription = session.Subscribe(host);
  TracePcapWriter capture;
  if (!StartTracing(session, host, capture, options)) {
    LogMessage("Останов Velkor");
    LogStop();
    return kExitLoad;
  }
  try {
    session.Start(options.zeroRegs, true);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "velkor: cannot start %s: %s\n", options.headless.c_str(), e.what());
    LogMessage("Останов Velkor");
    LogStop();
    return kExitStart;
  }
  std::fprintf(stderr, "velkor: serving %s: servers=%d devices=%d tags=%d (log: %s)\n",
               options.headless.c_str(), project.Servers.Count(), project.DeviceCount(),
               project.TagCount(), LogDirectory().c_str());
  // Say where each TCP server listens (a port of 0 in the file lets the system choose).
  for (const auto& server : project.Servers)
    if (server->Mode && server->ListeningPort() != 0)
      std::fprintf(stderr, "velkor: %s: listening on port %u\n", server->DisplayName().c_str(),
                   unsigned(server->ListeningPort()));
  std::fflush(stderr);

  int signal = 0;
  while (signal <= 0) {
    host.Report();
    pollfd fds[2] = {{signals, POLLIN, 0}, {host.WakeFd(), POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) break;
    if (fds[0].revents & POLLIN) {
      signalfd_siginfo info{};
      if (read(signals, &info, sizeof info) == sizeof info) signal = int(info.ssi_signo);
    }
  }
  std::fprintf(stderr, "velkor: %s received, stopping\n", strsignal(signal));
  int status = 0;
  try {
    session.Stop();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "velkor: stop: %s\n", e.what());
    status = kExitStart;
  }
  host.Report();
  FinishTracing(session, host, capture);
  subscription.Reset();
  LogMessage("Останов Velkor");
  LogStop();
  if (signals >= 0) close(signals);
  return status;
}

int Main(int& argc, char** argv) {
  Options options;
  std::vector<std::string> args(argv + 1, argv + argc);
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
    } else if (a == "--trace") {
      if (!value(options.trace)) return UsageError("--trace needs a file name");
    } else if (a == "--pcap") {
      if (!value(options.pcap)) return UsageError("--pcap needs a file name");
    } else if (a == "--zero-regs") {
      options.zeroRegs = true;
    } else if (!a.starts_with("-") && options.project.empty()) {
      options.project = a;
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
  if (!options.trace.empty() && options.headless.empty())
    return UsageError("--trace goes with --headless");
  if (!options.pcap.empty() && options.headless.empty())
    return UsageError("--pcap goes with --headless");
  if (!options.project.empty() && (!options.check.empty() || !options.headless.empty()))
    return UsageError("unknown option '" + options.project + "'");
  if (!options.check.empty()) return Check(options);
  if (!options.headless.empty()) return Headless(options);
  return RunWindow(argc, argv, options.project);
}

}  // namespace
}  // namespace velkor

int main(int argc, char** argv) {
  velkor::InstallCrashHandler();
  return velkor::Main(argc, argv);
}

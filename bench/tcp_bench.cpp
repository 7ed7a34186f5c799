// Modbus TCP throughput and latency of our server beside a minimal single-threaded
// libmodbus server, measured in one run under identical load: reads and writes of 10
// registers over 1, 8 and 64 connections and with pipelined requests, then a long soak
// of 200 connections at a moderate rate that must end without a single failed request.
// The ratios say whether our thread-per-connection design costs throughput or tail
// latency against the plainest server one can write, on the same cores at the same time.

#include <modbus.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tcp_load.h"
#include "tcp_servers.h"

namespace velkor {
namespace {

constexpr int kSoakConnections = 200;
constexpr double kSoakIntervalMs = 20;
constexpr double kWarmupSeconds = 0.3;
constexpr auto kPauseBetweenRuns = std::chrono::milliseconds(200);

struct TOptions {
  double Seconds = 3;
  double SoakSeconds = 30;
};

struct TScenario {
  uint8_t Function;
  int Connections;
  int Pipeline;
};

struct TRow {
  TScenario Scenario;
  TLoadResult Ours;
  TLoadResult Reference;
};

[[noreturn]] void Usage(const char* program, int code) {
  std::fprintf(code ? stderr : stdout,
               "usage: %s [--seconds N] [--soak-seconds N] [--quick]\n"
               "  --seconds N       measured seconds per run (default 3)\n"
               "  --soak-seconds N  length of the 200-connection soak (default 30)\n"
               "  --quick           1 s runs and a 5 s soak (explicit values still win)\n",
               program);
  std::exit(code);
}

double PositiveNumber(const char* program, const char* text) {
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  if (!end || *end || !(value > 0) || value > 3600) Usage(program, 2);
  return value;
}

TOptions ParseOptions(int argc, char** argv) {
  TOptions options;
  bool quick = false;
  double seconds = 0;
  double soakSeconds = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--quick") {
      quick = true;
    } else if (arg == "--seconds" && i + 1 < argc) {
      seconds = PositiveNumber(argv[0], argv[++i]);
    } else if (arg == "--soak-seconds" && i + 1 < argc) {
      soakSeconds = PositiveNumber(argv[0], argv[++i]);
    } else if (arg == "--help" || arg == "-h") {
      Usage(argv[0], 0);
    } else {
      Usage(argv[0], 2);
    }
  }
  if (quick) options = {1, 5};
  if (seconds > 0) options.Seconds = seconds;
  if (soakSeconds > 0) options.SoakSeconds = soakSeconds;
  return options;
}

void OnSignal(int signal) {
  StopAllChildren();
  _exit(128 + signal);
}

void InstallCleanup() {
  std::atexit(StopAllChildren);
  std::set_terminate([] {
    StopAllChildren();
    std::abort();
  });
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaction(signal, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

// The soak holds 200 sockets here and 200 in our server; the children inherit the limit.
void RaiseFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
  const rlim_t want = 4096;
  if (limit.rlim_cur >= want) return;
  limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? want : std::min(want, limit.rlim_max);
  setrlimit(RLIMIT_NOFILE, &limit);
}

// Other work on the machine skews every figure here; the load average tells how much.
std::string LoadAverage() {
  double averages[3] = {};
  if (getloadavg(averages, 3) != 3) return "?";
  char text[48];
  std::snprintf(text, sizeof text, "%.2f %.2f %.2f", averages[0], averages[1], averages[2]);
  return text;
}

std::string Label(const TScenario& s) {
  char text[48];
  std::snprintf(text, sizeof text, "fc%-2d %3d conn x %d", s.Function, s.Connections, s.Pipeline);
  return text;
}

std::string Pair(double a, double b) {
  char text[32];
  std::snprintf(text, sizeof text, "%.0f / %.0f", a, b);
  return text;
}

std::string Ratio(double a, double b) {
  if (!(b > 0)) return "-";
  char text[16];
  std::snprintf(text, sizeof text, "%.2f", a / b);
  return text;
}

// Throws when the server died: every later figure would be meaningless.
void RequireRunning(TChildServer& server) {
  const std::string gone = CheckChild(server);
  if (!gone.empty()) throw std::runtime_error("server process ended: " + gone);
}

TLoadResult Measure(TChildServer& server, const TLoadConfig& base, const char* what) {
  RequireRunning(server);
  TLoadConfig config = base;
  config.Port = server.Port;
  std::fprintf(stderr, "  %-28s %-9s ...", what, server.Name.c_str());
  std::fflush(stderr);
  const TLoadResult result = RunLoad(config);
  std::fprintf(stderr, " %9.0f req/s, p99 %7.0f us, failures %llu\n", result.RequestsPerSecond,
               result.P99Us, static_cast<unsigned long long>(result.Failures));
  std::this_thread::sleep_for(kPauseBetweenRuns);
  RequireRunning(server);
  return result;
}

void PrintTable(const std::vector<TRow>& rows) {
  std::printf("\n%-20s %11s %11s %6s %15s %15s %6s %9s %11s\n", "scenario", "ours req/s",
              "ref req/s", "ratio", "ours p50/p99", "ref p50/p99", "p99 r.", "fail o/r",
              "connect s");
  for (const TRow& row : rows) {
    const TLoadResult& o = row.Ours;
    const TLoadResult& r = row.Reference;
    char connect[32];
    std::snprintf(connect, sizeof connect, "%.2f / %.2f", o.ConnectSeconds, r.ConnectSeconds);
    std::printf("%-20s %11.0f %11.0f %6s %15s %15s %6s %9s %11s\n", Label(row.Scenario).c_str(),
                o.RequestsPerSecond, r.RequestsPerSecond,
                Ratio(o.RequestsPerSecond, r.RequestsPerSecond).c_str(),
                Pair(o.P50Us, o.P99Us).c_str(), Pair(r.P50Us, r.P99Us).c_str(),
                Ratio(o.P99Us, r.P99Us).c_str(),
                Pair(double(o.Failures), double(r.Failures)).c_str(), connect);
  }
  for (const TRow& row : rows) {
    for (const TLoadResult* result : {&row.Ours, &row.Reference}) {
      if (result->FirstFailure.empty() && !result->CapReached) continue;
      std::printf("  %s, %s: %s%s\n", Label(row.Scenario).c_str(),
                  result == &row.Ours ? "ours" : "ref", result->FirstFailure.c_str(),
                  result->CapReached ? " (request cap reached, window shortened)" : "");
    }
  }
}

int Main(int argc, char** argv) {
  const TOptions options = ParseOptions(argc, argv);
  RaiseFileLimit();
  // Forked while this process has no thread yet, and before the handlers, which the
  // children must not inherit.
  TChildServer ours = StartOurServer();
  TChildServer reference;
  try {
    reference = StartReferenceServer();
  } catch (...) {
    StopChild(ours);
    throw;
  }
  InstallCleanup();

  const long cores = sysconf(_SC_NPROCESSORS_ONLN);
  std::printf(
      "Modbus TCP on 127.0.0.1: velkor (port %u) against a single-threaded libmodbus %s "
      "server (port %u)\n"
      "%ld cores shared by everything: the load generator (one epoll thread), our server "
      "and the reference;\nboth servers run at nice +1. Runs of %.1f s after %.1f s of "
      "warm-up; 10 registers at address 0.\nratio = ours/ref (req/s: above 1 is ours faster; "
      "p99: below 1 is ours better); latency in us;\nconnect s: time to open the connections, not "
      "measured.\nload average at start: %s\n",
      ours.Port, LIBMODBUS_VERSION_STRING, reference.Port, cores, options.Seconds, kWarmupSeconds,
      LoadAverage().c_str());
  std::fflush(stdout);

  const std::vector<TScenario> scenarios = {
      {3, 1, 1}, {3, 8, 1}, {3, 64, 1}, {3, 8, 8}, {16, 1, 1}, {16, 8, 1}, {16, 64, 1}, {16, 8, 8},
  };
  std::vector<TRow> rows;
  for (const TScenario& s : scenarios) {
    TLoadConfig config;
    config.Function = s.Function;
    config.Connections = s.Connections;
    config.Pipeline = s.Pipeline;
    config.Seconds = options.Seconds;
    config.WarmupSeconds = kWarmupSeconds;
    const std::string label = Label(s);
    TRow row{s, Measure(ours, config, label.c_str()), {}};
    row.Reference = Measure(reference, config, label.c_str());
    rows.push_back(row);
  }
  PrintTable(rows);

  TLoadConfig soak;
  soak.Function = 0;
  soak.Connections = kSoakConnections;
  soak.Pipeline = 1;
  soak.IntervalMs = kSoakIntervalMs;
  soak.Seconds = options.SoakSeconds;
  soak.WarmupSeconds = kWarmupSeconds;
  std::printf(
      "\nSoak: %d connections, fc3 and fc16 in turn, one request per %.0f ms per "
      "connection, %.0f s, against ours\n",
      kSoakConnections, kSoakIntervalMs, options.SoakSeconds);
  std::fflush(stdout);
  const TLoadResult s = Measure(ours, soak, "soak");
  std::printf(
      "  %llu requests sent, %llu replies in the window (%.0f req/s), p50/p99 %s us, "
      "failed requests: %llu%s%s\n",
      static_cast<unsigned long long>(s.Sent), static_cast<unsigned long long>(s.Completed),
      s.RequestsPerSecond, Pair(s.P50Us, s.P99Us).c_str(),
      static_cast<unsigned long long>(s.Failures),
      s.FirstFailure.empty() ? "" : " - first: ", s.FirstFailure.c_str());
  std::printf("  connecting the %d took %.2f s\n", kSoakConnections, s.ConnectSeconds);

  std::printf("load average at end: %s\n", LoadAverage().c_str());

  const std::string oursEnd = StopChild(ours);
  const std::string referenceEnd = StopChild(reference);
  for (const std::string& note : {oursEnd, referenceEnd})
    if (!note.empty()) std::printf("note: %s\n", note.c_str());
  bool failed = s.Failures > 0 || !oursEnd.empty();
  for (const TRow& row : rows) failed = failed || row.Ours.Failures > 0;
  return failed ? 1 : 0;
}

}  // namespace
}  // namespace velkor

int main(int argc, char** argv) {
  try {
    return velkor::Main(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "velkor_bench_tcp: %s\n", e.what());
  }
  velkor::StopAllChildren();
  return 1;
}

// Modbus RTU request rate over a pty pair: function 3 (10 registers) from one libmodbus RTU
// master against our server and against a minimal libmodbus RTU server, one after the
// other, each on a pair of its own. Our server ends a frame only after INTERVAL ms of
// silence, as the line rules demand; libmodbus reckons the length of a request from its
// function code and answers at once. So the figure that matters is ours against the floor
// that the interval sets (one request per INTERVAL ms at best), not against the reference.
//
// The reference runs in a child process forked before any thread starts, and is ended by
// its PID; the pairs' socat processes are ended by theirs. Every run is bounded in time.

#include <modbus.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "PtyPair.h"
#include "model/DeviceClass.h"
#include "serving/ModbusTCPServer.h"

namespace velkor {
namespace {

using Clock = std::chrono::steady_clock;
using testing::PtyPair;

constexpr double kWarmupSeconds = 0.3;

struct Options {
  double Seconds = 3;
  int Interval = 10;
};

struct Rate {
  long Ok = 0;
  long Failed = 0;
  double Seconds = 0;
  double PerSecond() const { return Seconds > 0 ? Ok / Seconds : 0; }
};

[[noreturn]] void Usage(const char* program, int code) {
  std::fprintf(code ? stderr : stdout,
               "usage: %s [--seconds N] [--interval MS]\n"
               "  --seconds N    measured seconds per server (default 3, at most 60)\n"
               "  --interval MS  our server's inter-byte interval (default 10)\n",
               program);
  std::exit(code);
}

Options Parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help") Usage(argv[0], 0);
    if (i + 1 >= argc) Usage(argv[0], 2);
    if (arg == "--seconds")
      options.Seconds = std::atof(argv[++i]);
    else if (arg == "--interval")
      options.Interval = std::atoi(argv[++i]);
    else
      Usage(argv[0], 2);
  }
  if (options.Seconds <= 0 || options.Seconds > 60 || options.Interval < 0) Usage(argv[0], 2);
  return options;
}

// The reference: one loop of receive and reply on a mapping, as libmodbus' own examples do.
[[noreturn]] void RunReference(const std::string& port) {
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  modbus_t* ctx = modbus_new_rtu(port.c_str(), 9600, 'N', 8, 1);
  modbus_mapping_t* mapping = modbus_mapping_new(0, 0, 100, 0);
  if (!ctx || !mapping || modbus_connect(ctx) != 0) _exit(1);
  modbus_set_slave(ctx, 1);
  for (int r = 0; r < 100; ++r) mapping->tab_registers[r] = uint16_t(0x0100 + r);
  uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
  for (;;) {
    const int length = modbus_receive(ctx, query);
    if (length > 0) modbus_reply(ctx, query, length, mapping);
  }
}

// Reads 10 holding registers of slave 1 as fast as the replies come, for `seconds`.
Rate Measure(const std::string& port, double seconds) {
  Rate rate;
  modbus_t* ctx = modbus_new_rtu(port.c_str(), 9600, 'N', 8, 1);
  if (!ctx || modbus_connect(ctx) != 0) {
    std::fprintf(stderr, "master: cannot open %s: %s\n", port.c_str(), modbus_strerror(errno));
    if (ctx) modbus_free(ctx);
    return rate;
  }
  modbus_set_slave(ctx, 1);
  modbus_set_response_timeout(ctx, 0, 500000);
  uint16_t registers[10];
  const auto warmEnd = Clock::now() + std::chrono::duration<double>(kWarmupSeconds);
  while (Clock::now() < warmEnd) modbus_read_registers(ctx, 0, 10, registers);
  const auto begin = Clock::now();
  const auto end = begin + std::chrono::duration<double>(seconds);
  while (Clock::now() < end) {
    if (modbus_read_registers(ctx, 0, 10, registers) == 10 && registers[9] == 0x0109)
      ++rate.Ok;
    else
      ++rate.Failed;
  }
  rate.Seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  modbus_close(ctx);
  modbus_free(ctx);
  return rate;
}

void Print(const char* name, const Rate& rate) {
  std::printf("  %-28s %9.1f req/s  %8.3f ms/req  (%ld ok, %ld failed)\n", name, rate.PerSecond(),
              rate.Ok ? 1000.0 * rate.Seconds / double(rate.Ok) : 0.0, rate.Ok, rate.Failed);
}

int Run(const Options& options) {
  PtyPair oursLine;
  PtyPair referenceLine;
  if (!oursLine.Ok() || !referenceLine.Ok()) {
    std::fprintf(stderr, "no pty pair: %s\n",
                 (oursLine.Ok() ? referenceLine : oursLine).Error().c_str());
    return 1;
  }
  // Forked before our server starts its thread.
  const pid_t reference = fork();
  if (reference < 0) return 1;
  if (reference == 0) RunReference(referenceLine.A());

  TModbusTCPServer server;
  server.Mode = false;
  server.COMMPORT = oursLine.A();
  server.INTERVAL = options.Interval;
  auto device = std::make_unique<TDeviceClass>();
  device->Number = 1;
  for (uint16_t r = 0; r < 100; ++r) device->Space().WriteWord(r, kHoldingRegs, 2, 0x0100 + r);
  server.Devices().Add(std::move(device));
  server.Start();
  server.Poll();
  TLogRecord record;
  if (server.Protocol.Items(0, record)) std::fprintf(stderr, "ours: %s\n", record.Text.c_str());

  std::printf("Modbus RTU over a pty pair, function 3 with 10 registers, one master, %.1f s each\n",
              options.Seconds);
  const Rate ours = Measure(oursLine.B(), options.Seconds);
  server.Stop();
  const Rate theirs = Measure(referenceLine.B(), options.Seconds);
  kill(reference, SIGTERM);
  waitpid(reference, nullptr, 0);

  char ourName[64];
  std::snprintf(ourName, sizeof ourName, "ours (INTERVAL %d ms)", options.Interval);
  Print(ourName, ours);
  Print("libmodbus reference", theirs);
  if (theirs.PerSecond() > 0)
    std::printf("  ratio ours / reference       %9.3f\n", ours.PerSecond() / theirs.PerSecond());
  if (options.Interval > 0)
    std::printf(
        "  interval floor               %9.1f req/s at most (%d ms of silence per request)\n"
        "  ours / floor                 %9.3f\n",
        1000.0 / options.Interval, options.Interval, ours.PerSecond() * options.Interval / 1000.0);
  return ours.Failed == 0 && theirs.Failed == 0 ? 0 : 1;
}

}  // namespace
}  // namespace velkor

int main(int argc, char** argv) { return velkor::Run(velkor::Parse(argc, argv)); }

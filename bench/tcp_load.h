#pragma once
// A Modbus TCP load generator on raw sockets, one epoll loop in the calling thread, so it
// costs one core at most and never runs in the servers' processes. Every reply is checked
// against the request it answers; a reply that is wrong, late or missing is a failure.

#include <cstdint>
#include <string>

namespace velkor {

struct TLoadConfig {
  uint16_t Port = 0;
  int Connections = 1;
  int Pipeline = 1;      // requests in flight per connection
  uint8_t Function = 3;  // 3 (read 10 registers), 16 (write 10), 0 (the two in turn)
  double Seconds = 3;    // measured
  double WarmupSeconds = 0.3;
  uint64_t MaxRequests = 10'000'000;  // requests sent, warm-up included
  // 0: closed loop (a new request as soon as a reply arrives); otherwise each connection
  // starts one request per interval at most.
  double IntervalMs = 0;
};

struct TLoadResult {
  uint64_t Completed = 0;  // replies inside the measured window
  double Seconds = 0;      // the window actually measured
  double RequestsPerSecond = 0;
  double P50Us = 0;
  double P99Us = 0;
  uint64_t Sent = 0;
  double ConnectSeconds = 0;
  bool CapReached = false;  // MaxRequests ended the window early
  uint64_t Failures = 0;    // wrong, late or missing replies; connections refused or lost
  std::string FirstFailure;
};

TLoadResult RunLoad(const TLoadConfig& config);

}  // namespace velkor

#pragma once
// A hang must fail loudly, not stall CI: the lock-order stress tests arm this.

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace velkor {

// Aborts the process if not disarmed in time.
class Watchdog {
 public:
  explicit Watchdog(std::chrono::seconds limit)
      : m_thread([this, limit] {
          const auto deadline = std::chrono::steady_clock::now() + limit;
          while (!m_done) {
            if (std::chrono::steady_clock::now() > deadline) {
              std::fprintf(stderr, "watchdog: deadlock suspected, aborting\n");
              std::abort();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
          }
        }) {}
  ~Watchdog() {
    m_done = true;
    m_thread.join();
  }

 private:
  std::atomic<bool> m_done{false};
  std::thread m_thread;
};

}  // namespace velkor

#include "model/Clock.h"

#include <atomic>
#include <chrono>

namespace velkor {
namespace {
std::atomic<ClockFunction> g_clock{nullptr};
}

int64_t SystemNowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count() +
         kEpoch1601To1970Ms;
}

int64_t NowMs() {
  const ClockFunction clock = g_clock.load(std::memory_order_relaxed);
  return clock ? clock() : SystemNowMs();
}

void SetClockForTesting(ClockFunction clock) { g_clock.store(clock); }

}  // namespace velkor

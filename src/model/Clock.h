#pragma once
// The time base of behaviours and generators: milliseconds of the system clock counted
// from 1601-01-01 UTC. It is the wall clock on purpose (a clock set back must be seen, and
// handled, by the periods); tests replace it to step time by hand.

#include <cstdint>

namespace velkor {

using ClockFunction = int64_t (*)();

// Milliseconds since 1601-01-01 00:00 UTC.
int64_t NowMs();
int64_t SystemNowMs();
// Replaces the clock for the whole process (nullptr restores the system clock).
void SetClockForTesting(ClockFunction clock);

// Milliseconds between 1601-01-01 and 1970-01-01.
inline constexpr int64_t kEpoch1601To1970Ms = 11644473600000LL;

}  // namespace velkor

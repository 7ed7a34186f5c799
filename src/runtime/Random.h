#pragma once
// The process-wide pseudo-random generator, seeded from the clock at start, shared by the
// random behaviours and the reply delays. Thread-safe.

#include <cstdint>

namespace velkor {

// Uniform in [0, 1).
double RandomReal();
// Uniform whole number in [0, n); 0 when n is 0.
uint32_t RandomBelow(uint32_t n);
// For tests that need a repeatable sequence.
void SeedRandom(uint64_t seed);

}  // namespace velkor

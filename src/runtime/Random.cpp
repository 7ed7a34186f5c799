#include "runtime/Random.h"

#include <chrono>
#include <mutex>
#include <random>

namespace velkor {
namespace {

struct Generator {
  std::mutex lock;
  std::mt19937_64 engine{
      uint64_t(std::chrono::high_resolution_clock::now().time_since_epoch().count())};
};

Generator& Shared() {
  static Generator generator;
  return generator;
}

}  // namespace

double RandomReal() {
  Generator& g = Shared();
  std::lock_guard<std::mutex> lock(g.lock);
  // The top 53 bits scaled by 2^-53: exactly uniform on the doubles of [0, 1), never 1, which
  // generate_canonical cannot promise.
  return double(g.engine() >> 11) * 0x1.0p-53;
}

uint32_t RandomBelow(uint32_t n) {
  if (n == 0) return 0;
  Generator& g = Shared();
  std::lock_guard<std::mutex> lock(g.lock);
  return std::uniform_int_distribution<uint32_t>(0, n - 1)(g.engine);
}

void SeedRandom(uint64_t seed) {
  Generator& g = Shared();
  std::lock_guard<std::mutex> lock(g.lock);
  g.engine.seed(seed);
}

}  // namespace velkor

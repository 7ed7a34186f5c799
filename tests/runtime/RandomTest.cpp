#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "runtime/Random.h"

namespace velkor {
namespace {

TEST(RandomTest, SeedRepeatsTheSequence) {
  const auto draw = [] {
    std::vector<double> values;
    for (int i = 0; i < 5; ++i) values.push_back(RandomReal() + RandomBelow(1000));
    return values;
  };
  SeedRandom(42);
  const std::vector<double> first = draw();
  SeedRandom(42);
  EXPECT_EQ(draw(), first);
}

TEST(RandomTest, StaysInRangeAndCoversIt) {
  EXPECT_EQ(RandomBelow(0), 0u);
  EXPECT_EQ(RandomBelow(1), 0u);
  std::set<uint32_t> seen;
  for (int i = 0; i < 10000; ++i) {
    const double r = RandomReal();
    ASSERT_TRUE(r >= 0.0 && r < 1.0) << r;
    const uint32_t k = RandomBelow(10);
    ASSERT_LT(k, 10u);
    seen.insert(k);
  }
  EXPECT_EQ(seen.size(), 10u);
  EXPECT_LT(RandomBelow(UINT32_MAX), UINT32_MAX);
}

}  // namespace
}  // namespace velkor

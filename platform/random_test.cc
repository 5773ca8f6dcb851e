#include "platform/random.h"

#include <gtest/gtest.h>

#include <limits>
#include <set>
#include <vector>

namespace platform {
namespace {

class SequenceSource : public RandomSource {
 public:
  explicit SequenceSource(std::vector<uint64_t> values) : values_(std::move(values)) {}
  uint64_t NextU64() override {
    ++draws;
    return next_ < values_.size() ? values_[next_++] : 0;
  }
  int draws = 0;

 private:
  std::vector<uint64_t> values_;
  size_t next_ = 0;
};

constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();

TEST(RandomTest, RangeRejectsTheDrawsThatWouldBias) {
  struct Case {
    uint64_t min;
    uint64_t max;
    std::vector<uint64_t> draws;
    uint64_t expected;
    int draws_used;
  };
  const Case cases[] = {
      {0, 9, {7}, 7, 1},
      {0, 9, {17}, 7, 1},
      {5, 14, {17}, 12, 1},
      // 2^64 mod 3 is 1: the single value 2^64 - 1 is outside the last full block of three.
      {0, 2, {kMax, 5}, 2, 2},
      {0, 2, {kMax - 1}, (kMax - 1) % 3, 1},
      // 2^64 mod 10 is 6: the six highest values are rejected.
      {0, 9, {kMax, kMax - 5, kMax - 6}, (kMax - 6) % 10, 3},
      // A power-of-two range needs no rejection.
      {0, 32767, {kMax}, 32767, 1},
      {100, 100, {kMax}, 100, 1},
      // Swapped bounds mean the same range.
      {14, 5, {17}, 12, 1},
      // The whole 64-bit range takes the draw as it is.
      {0, kMax, {kMax}, kMax, 1},
      {0, kMax, {12345}, 12345, 1},
  };
  for (const Case& c : cases) {
    SequenceSource source(c.draws);
    EXPECT_EQ(c.expected, RandomInRangeForTesting(&source, c.min, c.max))
        << c.min << ".." << c.max;
    EXPECT_EQ(c.draws_used, source.draws) << c.min << ".." << c.max;
  }
}

TEST(RandomTest, SystemValuesStayInRangeAndVary) {
  std::set<uint64_t> seen;
  for (int i = 0; i < 2000; ++i) {
    uint64_t value = RandomInRange(0, 32767);
    ASSERT_LE(value, 32767u);
    seen.insert(value);
    uint64_t small = RandomInRange(3, 5);
    ASSERT_GE(small, 3u);
    ASSERT_LE(small, 5u);
  }
  // 2000 draws from 32768 values: duplicates are expected, a handful of values is not.
  EXPECT_GT(seen.size(), 1500u);
  std::set<uint64_t> raw;
  for (int i = 0; i < 100; ++i) raw.insert(RandomU64());
  EXPECT_EQ(100u, raw.size());
}

TEST(RandomTest, EveryValueOfASmallRangeTurnsUp) {
  std::set<uint64_t> seen;
  for (int i = 0; i < 500 && seen.size() < 6; ++i) seen.insert(RandomInRange(10, 15));
  EXPECT_EQ((std::set<uint64_t>{10, 11, 12, 13, 14, 15}), seen);
}

}  // namespace
}  // namespace platform

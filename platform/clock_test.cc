#include "platform/clock.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>

namespace platform {
namespace {

TEST(ClockTest, DurationConversionsTruncateAndKeepTheMaximum) {
  struct Case {
    int64_t microseconds;
    int64_t milliseconds;
    int64_t seconds;
  };
  const Case cases[] = {
      {0, 0, 0},
      {999, 0, 0},
      {1000, 1, 0},
      {1999999, 1999, 1},
      {2000000, 2000, 2},
      {3600000000LL, 3600000, 3600},
      {-1, 0, 0},
      {-1500000, -1500, -1},  // toward zero
      {kMaxDuration, kMaxDuration, kMaxDuration},
      {kMaxDuration - 1, 9223372036854775LL, 9223372036854LL},
      {INT64_MIN, -9223372036854775LL, -9223372036854LL},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.milliseconds, DurationToMilliseconds(c.microseconds)) << c.microseconds;
    EXPECT_EQ(c.seconds, DurationToSeconds(c.microseconds)) << c.microseconds;
  }
}

TEST(ClockTest, HundredNanosecondsToMicroseconds) {
  EXPECT_EQ(0, HundredNanosecondsToMicroseconds(9));
  EXPECT_EQ(1, HundredNanosecondsToMicroseconds(10));
  EXPECT_EQ(1844674407370955161LL, HundredNanosecondsToMicroseconds(~0ULL));
}

TEST(ClockTest, CounterToMicrosecondsDoesNotOverflow) {
  struct Case {
    uint64_t count;
    uint64_t frequency;
    int64_t microseconds;
  };
  const Case cases[] = {
      {0, 10000000, 0},
      {10000000, 10000000, 1000000},
      {15, 10, 1500000},
      {1, 3, 333333},
      // count * 1000000 would not fit into 64 bits.
      {1000000000000000000ULL, 10000000, 100000000000000000LL},
      {3579545ULL * 86400 * 365 * 100, 3579545, 1000000LL * 86400 * 365 * 100},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.microseconds, CounterToMicroseconds(c.count, c.frequency)) << c.count;
  }
}

class FakeWallTimeSource : public WallTimeSource {
 public:
  uint64_t SystemTimeAsFileTime() override {
    ++system_reads;
    return file_time;
  }
  uint32_t TickCountMs() override { return ticks; }

  uint64_t file_time = 0;
  uint32_t ticks = 0;
  int system_reads = 0;
};

TEST(ClockTest, WallClockAddsTicksToItsBaseline) {
  FakeWallTimeSource source;
  source.file_time = 132000000000000000ULL;  // some day in 2019, in 100 ns units
  source.ticks = 5000;
  WallClock clock(&source);
  const int64_t base = 13200000000000000LL;
  EXPECT_EQ(base, clock.NowMicroseconds());
  EXPECT_EQ(1, source.system_reads);

  struct Step {
    uint32_t ticks;
    uint64_t file_time;  // what the system clock says now
    int64_t expected;
    int system_reads;
  };
  const Step steps[] = {
      // The system clock is only looked at again after more than 60 s of ticks, so a
      // system time set backwards does not show at once...
      {5500, 131000000000000000ULL, base + 500000, 1},
      {65000, 131000000000000000ULL, base + 60000000, 1},
      // ...but after that it does.
      {65001, 131000000000000000ULL, 13100000000000000LL, 2},
      {66001, 131000000000000000ULL, 13100000000000000LL + 1000000, 2},
  };
  for (const Step& step : steps) {
    source.ticks = step.ticks;
    source.file_time = step.file_time;
    EXPECT_EQ(step.expected, clock.NowMicroseconds()) << step.ticks;
    EXPECT_EQ(step.system_reads, source.system_reads) << step.ticks;
  }
}

TEST(ClockTest, WallClockSurvivesTheTickCountWrap) {
  FakeWallTimeSource source;
  source.file_time = 10000000;
  source.ticks = 0xFFFFFF00u;
  WallClock clock(&source);
  EXPECT_EQ(1000000, clock.NowMicroseconds());
  source.ticks = 0x100;  // 512 ms later, across the wrap
  EXPECT_EQ(1000000 + 512000, clock.NowMicroseconds());
  EXPECT_EQ(1, source.system_reads);
}

TEST(ClockTest, SystemWallTimeFollowsTheSystemClock) {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  int64_t system_us =
      static_cast<int64_t>(((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime) /
                           10);
  int64_t wall = WallTimeMicroseconds();
  EXPECT_LT(std::llabs(wall - system_us), 2000000) << wall << " vs " << system_us;
  EXPECT_LE(wall, WallTimeMicroseconds());
}

TEST(ClockTest, MonotonicTimeAdvances) {
  int64_t start = MonotonicMicroseconds();
  Sleep(50);
  int64_t end = MonotonicMicroseconds();
  EXPECT_GE(end - start, 30000);
  EXPECT_LE(end, MonotonicMicroseconds());
  // The unbiased interrupt time is there on every supported test system.
  ULONGLONG interrupt_time = 0;
  ASSERT_TRUE(QueryUnbiasedInterruptTime(&interrupt_time));
  EXPECT_LT(std::llabs(static_cast<int64_t>(interrupt_time / 10) - MonotonicMicroseconds()),
            1000000);
}

}  // namespace
}  // namespace platform

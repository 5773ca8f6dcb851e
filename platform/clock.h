// Clocks and durations, all in microseconds.
//
// Wall time counts microseconds since 1601-01-01 (the FILETIME epoch divided by 10). It is
// a baseline read from GetSystemTimeAsFileTime plus the millisecond ticks elapsed since,
// and the baseline is read again once more than `kWallClockRebaselineMs` have passed, so
// that time stamps taken close together are ordered even when the system time is adjusted
// in between, while long runs still follow the system time.
//
// Monotonic time comes from the unbiased interrupt time (which does not count time spent
// asleep) and is only meaningful as a difference. Durations are signed 64-bit microsecond
// counts; `kMaxDuration` stands for an unbounded duration and stays the maximum through
// every conversion.
#ifndef PLATFORM_CLOCK_H_
#define PLATFORM_CLOCK_H_

#include <cstdint>
#include <limits>

#include "platform/sync.h"

namespace platform {

inline constexpr int64_t kMaxDuration = std::numeric_limits<int64_t>::max();
inline constexpr uint32_t kWallClockRebaselineMs = 60000;

// Microseconds to whole milliseconds / seconds, truncated toward zero; the maximum stays
// the maximum.
int64_t DurationToMilliseconds(int64_t microseconds);
int64_t DurationToSeconds(int64_t microseconds);
// 100-nanosecond units (interrupt time, FILETIME) to microseconds.
int64_t HundredNanosecondsToMicroseconds(uint64_t hundred_ns);
// A performance-counter reading to microseconds, without overflowing for any count.
// `frequency` must not be 0.
int64_t CounterToMicroseconds(uint64_t count, uint64_t frequency);

// What the wall clock reads; tests substitute one.
class WallTimeSource {
 public:
  virtual ~WallTimeSource() = default;
  // GetSystemTimeAsFileTime as one 64-bit count of 100-nanosecond units.
  virtual uint64_t SystemTimeAsFileTime() = 0;
  // A millisecond tick count that may wrap around (GetTickCount).
  virtual uint32_t TickCountMs() = 0;
};

// Baseline plus elapsed ticks, thread-safe.
class WallClock {
 public:
  // `source` must outlive the clock.
  explicit WallClock(WallTimeSource* source) : source_(source) {}
  WallClock(const WallClock&) = delete;
  WallClock& operator=(const WallClock&) = delete;

  int64_t NowMicroseconds();

 private:
  WallTimeSource* source_;
  CriticalLock lock_;
  bool has_baseline_ = false;
  int64_t baseline_us_ = 0;
  uint32_t baseline_ticks_ = 0;
};

// The process-wide wall clock on the system's own sources.
int64_t WallTimeMicroseconds();

// QueryUnbiasedInterruptTime in microseconds. Windows before 7 lacks that call (it is
// looked up in kernel32.dll); there the performance counter is used instead.
int64_t MonotonicMicroseconds();

}  // namespace platform

#endif  // PLATFORM_CLOCK_H_

#include "platform/clock.h"

#include <windows.h>

#include "platform/system_library.h"

namespace platform {

namespace {

class SystemWallTimeSource : public WallTimeSource {
 public:
  uint64_t SystemTimeAsFileTime() override {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  }
  // GetTickCount64 is missing on XP; the 32-bit count is enough for differences below
  // 49 days, and the clock never looks further than `kWallClockRebaselineMs` back.
  uint32_t TickCountMs() override { return ::GetTickCount(); }
};

using QueryUnbiasedInterruptTimeFunction = BOOL(WINAPI*)(PULONGLONG);

QueryUnbiasedInterruptTimeFunction LookUpUnbiasedInterruptTime() {
  return reinterpret_cast<QueryUnbiasedInterruptTimeFunction>(
      KernelFunction("QueryUnbiasedInterruptTime"));
}

// `microseconds` in whole `unit`s, truncated toward zero. The magnitude is divided unsigned,
// so that the program links no signed 64-bit division routine.
int64_t DurationIn(int64_t microseconds, uint32_t unit) {
  if (microseconds == kMaxDuration) return kMaxDuration;
  const bool negative = microseconds < 0;
  const uint64_t magnitude =
      negative ? 0 - static_cast<uint64_t>(microseconds) : static_cast<uint64_t>(microseconds);
  const int64_t whole = static_cast<int64_t>(magnitude / unit);
  return negative ? -whole : whole;
}

}  // namespace

int64_t DurationToMilliseconds(int64_t microseconds) { return DurationIn(microseconds, 1000); }

int64_t DurationToSeconds(int64_t microseconds) { return DurationIn(microseconds, 1000000); }

int64_t HundredNanosecondsToMicroseconds(uint64_t hundred_ns) {
  return static_cast<int64_t>(hundred_ns / 10);
}

int64_t CounterToMicroseconds(uint64_t count, uint64_t frequency) {
  // count * 1000000 / frequency overflows for large counts; split into whole seconds and
  // the remainder (which is below the frequency, so remainder * 1000000 fits for any
  // frequency below 1.8e13 Hz).
  uint64_t seconds = count / frequency;
  uint64_t remainder = count % frequency;
  return static_cast<int64_t>(seconds * 1000000 + remainder * 1000000 / frequency);
}

int64_t WallClock::NowMicroseconds() {
  AutoLock hold(lock_);
  uint32_t ticks = source_->TickCountMs();
  // Unsigned subtraction is right across the 49.7-day wrap of the tick count.
  uint32_t elapsed_ms = ticks - baseline_ticks_;
  if (!has_baseline_ || elapsed_ms > kWallClockRebaselineMs) {
    baseline_us_ = HundredNanosecondsToMicroseconds(source_->SystemTimeAsFileTime());
    baseline_ticks_ = ticks;
    has_baseline_ = true;
    elapsed_ms = 0;
  }
  return baseline_us_ + static_cast<int64_t>(elapsed_ms) * 1000;
}

int64_t WallTimeMicroseconds() {
  static SystemWallTimeSource source;
  static WallClock clock(&source);
  return clock.NowMicroseconds();
}

int64_t MonotonicMicroseconds() {
  static const QueryUnbiasedInterruptTimeFunction query = LookUpUnbiasedInterruptTime();
  ULONGLONG interrupt_time = 0;
  if (query && query(&interrupt_time)) return HundredNanosecondsToMicroseconds(interrupt_time);
  // Windows before 7: the performance counter exists on every XP system.
  static const uint64_t frequency = [] {
    LARGE_INTEGER value;
    return ::QueryPerformanceFrequency(&value) && value.QuadPart > 0
               ? static_cast<uint64_t>(value.QuadPart)
               : 0;
  }();
  LARGE_INTEGER counter;
  if (frequency == 0 || !::QueryPerformanceCounter(&counter)) {
    return static_cast<int64_t>(::GetTickCount()) * 1000;
  }
  return CounterToMicroseconds(static_cast<uint64_t>(counter.QuadPart), frequency);
}

}  // namespace platform

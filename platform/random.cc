#include "platform/random.h"

#include <windows.h>
// SystemFunction036 is the export behind the RtlGenRandom name.
#include <ntsecapi.h>

#include <limits>

#include "platform/fatal.h"

namespace platform {

namespace {

class SystemRandomSource : public RandomSource {
 public:
  uint64_t NextU64() override { return RandomU64(); }
};

}  // namespace

uint64_t RandomU64() {
  uint64_t value = 0;
  if (!SystemFunction036(&value, sizeof(value))) FatalStop("SystemFunction036");
  return value;
}

uint64_t RandomInRangeForTesting(RandomSource* source, uint64_t min, uint64_t max) {
  if (min > max) {
    uint64_t swap = min;
    min = max;
    max = swap;
  }
  uint64_t span = max - min;
  if (span == std::numeric_limits<uint64_t>::max()) return source->NextU64();
  uint64_t count = span + 1;
  // Draws at or above the largest multiple of `count` that fits into 2^64 would make the
  // low results more likely than the high ones; they are drawn again. The limit is
  // 2^64 - (2^64 mod count), computed without a 65-bit intermediate.
  uint64_t remainder = (std::numeric_limits<uint64_t>::max() % count + 1) % count;
  uint64_t limit = 0 - remainder;  // 0 means "every draw is fine" (count is a power of two)
  for (;;) {
    uint64_t value = source->NextU64();
    if (limit == 0 || value < limit) return min + value % count;
  }
}

uint64_t RandomInRange(uint64_t min, uint64_t max) {
  SystemRandomSource source;
  return RandomInRangeForTesting(&source, min, max);
}

}  // namespace platform

// Random numbers from the system generator.
//
// `RandomU64` takes 8 bytes from SystemFunction036 (RtlGenRandom in advapi32). The generator
// is not expected to fail; when it does the process stops (`FatalStop`), so callers never
// see a weak or repeated value. `RandomInRange` is uniform: it rejects the draws that would
// bias a plain modulo.
#ifndef PLATFORM_RANDOM_H_
#define PLATFORM_RANDOM_H_

#include <cstddef>
#include <cstdint>

namespace platform {

uint64_t RandomU64();
// A uniform integer in [min, max] (both included); the bounds are swapped when min > max.
uint64_t RandomInRange(uint64_t min, uint64_t max);

// Where random 64-bit values come from; tests substitute a fixed sequence.
class RandomSource {
 public:
  virtual ~RandomSource() = default;
  virtual uint64_t NextU64() = 0;
};
// `RandomInRange` over `source`.
uint64_t RandomInRangeForTesting(RandomSource* source, uint64_t min, uint64_t max);

}  // namespace platform

#endif  // PLATFORM_RANDOM_H_

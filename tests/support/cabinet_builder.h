// Uncompressed cabinet archives built in memory, for tests that need layouts gcab cannot
// make: members continued from or into another cabinet, announced sizes that lie, or any
// set of documents handed to the package code without a build step.
#ifndef TESTS_SUPPORT_CABINET_BUILDER_H_
#define TESTS_SUPPORT_CABINET_BUILDER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace test_support {

// CFFILE folder index values that mark members split across cabinets.
inline constexpr uint16_t kContinuedFromPrevious = 0xFFFD;
inline constexpr uint16_t kContinuedToNext = 0xFFFE;

struct CabinetEntry {
  std::string name;
  std::string data;
  // The size written into the file table; the real data length when unset.
  std::optional<uint32_t> announced_size;
  uint16_t folder_index = 0;
};

struct CabinetLayout {
  std::vector<CabinetEntry> entries;
  // Non-empty names set the header's previous- or next-cabinet flag and strings.
  std::string previous_cabinet;
  std::string next_cabinet;
};

// One folder without compression; the members' data follow each other in 32 KiB blocks.
std::string BuildCabinetFrom(const CabinetLayout& layout);

// Shorthand: members given as (name, data) pairs.
std::string BuildCabinet(const std::vector<std::pair<std::string, std::string>>& members);

}  // namespace test_support

#endif  // TESTS_SUPPORT_CABINET_BUILDER_H_

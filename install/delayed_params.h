// The delayed parameter block: the setup archive and the vendor file paths, and the user's
// two choices, as the master hands them to its elevated child once the archive is ready.
// The master keeps the block in a section of its own (install/elevated_process.h); the
// child copies it from there before it reads a field, and turns it into its setup command
// line.
#ifndef INSTALL_DELAYED_PARAMS_H_
#define INSTALL_DELAYED_PARAMS_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace installer {

class CommandLine;

// UTF-16 units per path field, the terminating zero included.
inline constexpr size_t kDelayedPathUnits = 261;

// The exact bytes of the block.
struct DelayedParamBlock {
  wchar_t browser_arc_path[kDelayedPathUnits];
  wchar_t clids_file_path[kDelayedPathUnits];
  wchar_t clids_searchband_file_path[kDelayedPathUnits];
  wchar_t installer_data_path[kDelayedPathUnits];
  wchar_t brand_package_path[kDelayedPathUnits];
  wchar_t partner_package_path[kDelayedPathUnits];
  wchar_t partner_package_override_path[kDelayedPathUnits];
  uint8_t send_statistics;  // 0 or 1
  uint8_t make_default;     // 0 or 1
};

static_assert(sizeof(wchar_t) == 2, "the block holds UTF-16 units");
static_assert(offsetof(DelayedParamBlock, browser_arc_path) == 0);
static_assert(offsetof(DelayedParamBlock, clids_file_path) == 522);
static_assert(offsetof(DelayedParamBlock, clids_searchband_file_path) == 1044);
static_assert(offsetof(DelayedParamBlock, installer_data_path) == 1566);
static_assert(offsetof(DelayedParamBlock, brand_package_path) == 2088);
static_assert(offsetof(DelayedParamBlock, partner_package_path) == 2610);
static_assert(offsetof(DelayedParamBlock, partner_package_override_path) == 3132);
static_assert(offsetof(DelayedParamBlock, send_statistics) == 3654);
static_assert(offsetof(DelayedParamBlock, make_default) == 3655);
static_assert(sizeof(DelayedParamBlock) == 3656);

// The block's contents as values.
struct DelayedParams {
  std::wstring browser_arc_path;
  std::wstring clids_file_path;
  std::wstring clids_searchband_file_path;
  std::wstring installer_data_path;
  std::wstring brand_package_path;
  std::wstring partner_package_path;
  std::wstring partner_package_override_path;
  bool send_statistics = false;
  bool make_default = false;
};

// Writes `params` into `block`. Every path must be shorter than 261 units; when one is not,
// nothing is written, one ERROR line under "WriteDelayedParams" lists every field, and the
// result is false.
bool WriteDelayedParamsTo(const DelayedParams& params, DelayedParamBlock* block);
// The block's contents. A field that lacks its terminating zero is cut at 260 units.
DelayedParams ReadDelayedParamsFrom(const DelayedParamBlock& block);

// Turns the block into the elevated child's setup command line: the archive becomes the
// program; every non-empty path sets its switch ("installerdata", "clids-file",
// "clids-searchband-file", "brand-package", "partner-package", "override-partner-package"),
// an empty one leaves the switch as the command line had it; "send-statistics" and
// "make-browser-default-after-import" are set or removed after the two flags.
void ApplyDelayedParams(const DelayedParams& params, CommandLine* command_line);

}  // namespace installer

#endif  // INSTALL_DELAYED_PARAMS_H_

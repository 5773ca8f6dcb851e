// Memory shared by every process that runs the installer's own image file.
//
// Two data sections of the executable carry the shared, readable and writable attributes,
// so Windows maps the same physical pages into every process started from this file for as
// long as one of them runs:
//
// - ".master" holds the process id of the last master installer. Only the holder of the
//   single-instance mutex writes it; a second master reads it to bring the first one's
//   window to the front. It is never cleared.
// - "Shared" holds the delayed parameter block, through which the master hands the setup
//   archive and the vendor file paths to the elevated child. The master writes it
//   completely before it signals the child's go event; the child copies it after the
//   signal. There is no lock. After the block the same section holds the child's answer,
//   the `ElevatedRunReport` (install/elevated_process.h says how it is used), and the
//   master's log handle that the child writes through (`PublishedLogHandle`,
//   platform/logging.h).
//
// Anything in these sections can be written by any process running the same file, the
// unprivileged ones included: the elevated child must treat what it reads as untrusted.
#ifndef PLATFORM_SHARED_SECTIONS_H_
#define PLATFORM_SHARED_SECTIONS_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace installer {

class CommandLine;

// Names of the two sections in the executable's section table.
inline constexpr char kMasterProcessIdSectionName[] = ".master";
inline constexpr char kDelayedParamsSectionName[] = "Shared";

// UTF-16 units per path field, the terminating zero included.
inline constexpr size_t kDelayedPathUnits = 261;

// The exact bytes of the "Shared" section.
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

// The elevated child's answer, right after the block in the "Shared" section (at 3656): the
// child writes it once its setup ran to its end, and the master reads it once the child has
// ended. The section is shared by every process of the image in every session, so the report
// names its child: a master takes only its own child's report (and before its go forgets
// only a report of that child's id). Two children that finish at the same moment can still
// overwrite each other's report: the master then reports "not started" (400).
struct ElevatedRunReport {
  uint32_t setup_exit_code;
  uint32_t setup_ran;          // 1 when setup_exit_code holds the exit code of a setup that ran
  uint32_t child_process_id;   // the elevated child that wrote it
  uint32_t dropped_log_lines;  // lines the child could not write to the master's log
};
static_assert(offsetof(ElevatedRunReport, setup_exit_code) == 0);
static_assert(offsetof(ElevatedRunReport, setup_ran) == 4);
static_assert(offsetof(ElevatedRunReport, child_process_id) == 8);
static_assert(offsetof(ElevatedRunReport, dropped_log_lines) == 12);
static_assert(sizeof(ElevatedRunReport) == 16 && alignof(ElevatedRunReport) == 4);

// After the report (at 3672): the log handle a master keeps open for its elevated child, as
// a value in that master's handle table. Written and read only under the log's mutex.
struct PublishedLogHandle {
  uint32_t process_id;
  uint32_t handle_value;
};
static_assert(sizeof(PublishedLogHandle) == 8);

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

// The master's process id in the shared slot; 0 until a master has written it.
uint32_t MasterProcessId();
void SetMasterProcessId(uint32_t process_id);

// Writes `params` into the shared block. Every path must be shorter than 261 units; when one
// is not, nothing is written, one ERROR line under "WriteDelayedParams" lists every field,
// and the result is false.
bool WriteDelayedParams(const DelayedParams& params);
// A copy of the shared block. A field that lacks its terminating zero (only a foreign
// writer can leave one) is cut at 260 units.
DelayedParams ReadDelayedParams();

// The elevated run report in the shared section. The child writes it with its own process
// id (`setup_ran` false: it ran no setup to its end); the master forgets one that names
// `child_process_id` (an earlier child of that id left it) and leaves any other child's alone.
void WriteElevatedRunReport(bool setup_ran, uint32_t setup_exit_code, uint32_t dropped_log_lines);
void ClearElevatedRunReport(uint32_t child_process_id);
ElevatedRunReport ReadElevatedRunReport();
// Whether `report` says that child `child_process_id`, which ended with `exit_code`, ran its
// setup to its end (a report of another child, or with another code, does not).
bool ReportShowsSetupRan(const ElevatedRunReport& report, uint32_t child_process_id,
                         uint32_t exit_code);

// The master's log handle for its elevated child.
void PublishLogHandle(uint32_t process_id, uint32_t handle_value);
PublishedLogHandle ReadPublishedLogHandle();

// The same two operations on any block (tests use a private one).
bool WriteDelayedParamsTo(const DelayedParams& params, DelayedParamBlock* block);
DelayedParams ReadDelayedParamsFrom(const DelayedParamBlock& block);

// Turns the block into the elevated child's setup command line: the archive becomes the
// program; every non-empty path sets its switch ("installerdata", "clids-file",
// "clids-searchband-file", "brand-package", "partner-package", "override-partner-package"),
// an empty one leaves the switch as the command line had it; "send-statistics" and
// "make-browser-default-after-import" are set or removed after the two flags.
void ApplyDelayedParams(const DelayedParams& params, CommandLine* command_line);

}  // namespace installer

#endif  // PLATFORM_SHARED_SECTIONS_H_

// Memory shared by every process that runs the installer's own image file.
//
// Two data sections of the executable carry the shared, readable and writable attributes,
// so Windows maps the same physical pages into every process started from this file for as
// long as one of them runs:
//
// - ".master" holds the process id of the last master installer. Only the holder of the
//   single-instance mutex writes it; a second master reads it to bring the first one's
//   window to the front. It is never cleared.
// - "Shared" holds the elevated child's answer, the `ElevatedRunReport`
//   (install/elevated_process.h says how it is used), and the master's log handle that the
//   child writes through (`PublishedLogHandle`, platform/logging.h). The paths the master
//   hands to its child never pass through it (install/delayed_params.h).
//
// Anything in these sections can be written by any process running the same file, the
// unprivileged ones included: the elevated child must treat what it reads as untrusted.
#ifndef PLATFORM_SHARED_SECTIONS_H_
#define PLATFORM_SHARED_SECTIONS_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace installer {

// Names of the two sections in the executable's section table.
inline constexpr char kMasterProcessIdSectionName[] = ".master";
inline constexpr char kElevatedRunSectionName[] = "Shared";

// The elevated child's answer, at the start of the "Shared" section: the child writes it
// once its setup ran to its end, and the master reads it once the child has ended. The
// section is shared by every process of the image in every session, so the report names its
// child: a master takes only its own child's report (and before its go forgets
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

// After the report (at 16): the log handle a master keeps open for its elevated child, as
// a value in that master's handle table. Written and read only under the log's mutex.
struct PublishedLogHandle {
  uint32_t process_id;
  uint32_t handle_value;
};
static_assert(sizeof(PublishedLogHandle) == 8);

// The master's process id in the shared slot; 0 until a master has written it.
uint32_t MasterProcessId();
void SetMasterProcessId(uint32_t process_id);

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

}  // namespace installer

#endif  // PLATFORM_SHARED_SECTIONS_H_

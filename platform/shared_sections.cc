#include "platform/shared_sections.h"

#include <windows.h>

#include "platform/asm_symbol.h"

namespace installer {

// The variables are defined in shared_sections_data.S: sections with GCC's `shared`
// attribute must be initialised, and their zeros would then be stored in the file (4 KB of
// the download).
extern uint32_t g_master_process_id __asm__(LI_ASM_SYMBOL(li_master_process_id));
extern ElevatedRunReport g_elevated_run_report __asm__(LI_ASM_SYMBOL(li_elevated_run_report));
extern PublishedLogHandle g_published_log_handle __asm__(LI_ASM_SYMBOL(li_published_log_handle));

namespace {

// Other processes write the slot behind the compiler's back; a volatile access is never
// cached or elided.
volatile uint32_t* MasterSlot() { return &g_master_process_id; }
volatile ElevatedRunReport* SharedReport() { return &g_elevated_run_report; }
volatile PublishedLogHandle* SharedLogHandle() { return &g_published_log_handle; }

}  // namespace

uint32_t MasterProcessId() { return *MasterSlot(); }

void SetMasterProcessId(uint32_t process_id) { *MasterSlot() = process_id; }

void WriteElevatedRunReport(bool setup_ran, uint32_t setup_exit_code,
                            uint32_t dropped_log_lines) {
  volatile ElevatedRunReport* report = SharedReport();
  report->setup_ran = 0;
  report->setup_exit_code = setup_exit_code;
  report->dropped_log_lines = dropped_log_lines;
  report->child_process_id = GetCurrentProcessId();
  report->setup_ran = setup_ran ? 1 : 0;
}

void PublishLogHandle(uint32_t process_id, uint32_t handle_value) {
  volatile PublishedLogHandle* slot = SharedLogHandle();
  slot->process_id = process_id;
  slot->handle_value = handle_value;
}

PublishedLogHandle ReadPublishedLogHandle() {
  const volatile PublishedLogHandle* slot = SharedLogHandle();
  PublishedLogHandle copy;
  copy.process_id = slot->process_id;
  copy.handle_value = slot->handle_value;
  return copy;
}

void ClearElevatedRunReport(uint32_t child_process_id) {
  volatile ElevatedRunReport* report = SharedReport();
  if (report->child_process_id == child_process_id) report->setup_ran = 0;
}

ElevatedRunReport ReadElevatedRunReport() {
  const volatile ElevatedRunReport* report = SharedReport();
  ElevatedRunReport copy;
  copy.setup_exit_code = report->setup_exit_code;
  copy.setup_ran = report->setup_ran;
  copy.child_process_id = report->child_process_id;
  copy.dropped_log_lines = report->dropped_log_lines;
  return copy;
}

bool ReportShowsSetupRan(const ElevatedRunReport& report, uint32_t child_process_id,
                         uint32_t exit_code) {
  return report.setup_ran == 1 && report.child_process_id == child_process_id &&
         report.setup_exit_code == exit_code;
}

}  // namespace installer

#include "platform/shared_sections.h"

#include <windows.h>

#include <cstring>

#include "platform/asm_symbol.h"
#include "platform/command_line.h"
#include "platform/logging.h"
#include "platform/strings.h"
#include "platform/switches.h"

namespace installer {

// Both variables are defined in shared_sections_data.S: sections with GCC's `shared`
// attribute must be initialised, and their zeros would then be stored in the file (4 KB of
// the download).
extern uint32_t g_master_process_id __asm__(LI_ASM_SYMBOL(li_master_process_id));
extern DelayedParamBlock g_delayed_params __asm__(LI_ASM_SYMBOL(li_delayed_params));
extern ElevatedRunReport g_elevated_run_report __asm__(LI_ASM_SYMBOL(li_elevated_run_report));
extern PublishedLogHandle g_published_log_handle __asm__(LI_ASM_SYMBOL(li_published_log_handle));

namespace {

// Other processes write the slot behind the compiler's back; a volatile access is never
// cached or elided.
volatile uint32_t* MasterSlot() { return &g_master_process_id; }
DelayedParamBlock* SharedBlock() { return &g_delayed_params; }
volatile ElevatedRunReport* SharedReport() { return &g_elevated_run_report; }
volatile PublishedLogHandle* SharedLogHandle() { return &g_published_log_handle; }

std::wstring FieldText(const wchar_t (&field)[kDelayedPathUnits]) {
  size_t length = 0;
  // A foreign writer may leave a field without its zero; the last unit is never read then.
  while (length < kDelayedPathUnits - 1 && field[length] != L'\0') ++length;
  return std::wstring(field, length);
}

void PutPath(const char* name, const std::wstring& path, CommandLine* command_line) {
  if (!path.empty()) command_line->Put(name, path);
}

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

bool WriteDelayedParamsTo(const DelayedParams& params, DelayedParamBlock* block) {
  const std::wstring* paths[] = {
      &params.browser_arc_path,      &params.clids_file_path,
      &params.clids_searchband_file_path, &params.installer_data_path,
      &params.brand_package_path,    &params.partner_package_path,
      &params.partner_package_override_path,
  };
  bool fits = true;
  for (const std::wstring* path : paths) {
    if (path->size() >= kDelayedPathUnits) fits = false;
  }
  if (!fits) {
    LOG(ERROR, "WriteDelayedParams")
        << "Too large string length,"
        << " browser_arc_path=" << params.browser_arc_path
        << " clids_file_path=" << params.clids_file_path
        << " clids_searchband_file_path=" << params.clids_searchband_file_path
        << " installer_data_path=" << params.installer_data_path
        << " brand_package_path=" << params.brand_package_path
        << " partner_package_path=" << params.partner_package_path
        << " partner_package_override_path=" << params.partner_package_override_path
        << " send_statistics=" << params.send_statistics
        << " make_default=" << params.make_default;
    return false;
  }
  wchar_t* fields[] = {
      block->browser_arc_path,      block->clids_file_path,
      block->clids_searchband_file_path, block->installer_data_path,
      block->brand_package_path,    block->partner_package_path,
      block->partner_package_override_path,
  };
  for (size_t i = 0; i < 7; ++i) {
    // The whole field is the limit: a 260-unit path keeps its last character (a limit of
    // 260 would silently cut it to 259 and hand the child another path).
    lstrcpynW(fields[i], paths[i]->c_str(), static_cast<int>(kDelayedPathUnits));
  }
  block->send_statistics = params.send_statistics ? 1 : 0;
  block->make_default = params.make_default ? 1 : 0;
  return true;
}

DelayedParams ReadDelayedParamsFrom(const DelayedParamBlock& block) {
  DelayedParams params;
  params.browser_arc_path = FieldText(block.browser_arc_path);
  params.clids_file_path = FieldText(block.clids_file_path);
  params.clids_searchband_file_path = FieldText(block.clids_searchband_file_path);
  params.installer_data_path = FieldText(block.installer_data_path);
  params.brand_package_path = FieldText(block.brand_package_path);
  params.partner_package_path = FieldText(block.partner_package_path);
  params.partner_package_override_path = FieldText(block.partner_package_override_path);
  params.send_statistics = block.send_statistics != 0;
  params.make_default = block.make_default != 0;
  return params;
}

bool WriteDelayedParams(const DelayedParams& params) {
  return WriteDelayedParamsTo(params, SharedBlock());
}

DelayedParams ReadDelayedParams() {
  // Copy first, so that a concurrent writer cannot change a field between its length scan
  // and its copy.
  DelayedParamBlock copy;
  memcpy(&copy, SharedBlock(), sizeof(copy));
  return ReadDelayedParamsFrom(copy);
}

void ApplyDelayedParams(const DelayedParams& params, CommandLine* command_line) {
  command_line->SetProgramPath(params.browser_arc_path);
  PutPath(switches::kInstallerData, params.installer_data_path, command_line);
  PutPath(switches::kClidsFile, params.clids_file_path, command_line);
  PutPath(switches::kClidsSearchbandFile, params.clids_searchband_file_path, command_line);
  PutPath(switches::kBrandPackage, params.brand_package_path, command_line);
  PutPath(switches::kPartnerPackage, params.partner_package_path, command_line);
  PutPath(switches::kOverridePartnerPackage, params.partner_package_override_path,
          command_line);
  command_line->PutFlag(switches::kSendStatistics, params.send_statistics);
  command_line->PutFlag(switches::kMakeBrowserDefaultAfterImport, params.make_default);
}

}  // namespace installer

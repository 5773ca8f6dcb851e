#include "install/elevated_process.h"

#include <sddl.h>
#include <windows.h>

#include <cstring>
#include <utility>

#include "platform/command_line.h"
#include "platform/logging.h"
#include "platform/random.h"
#include "platform/shared_sections.h"
#include "platform/strings.h"
#include "platform/switches.h"

namespace installer {

namespace {

// A protected DACL for this process's user (the child elevated by the same user's consent),
// SYSTEM and Administrators (a child elevated with another administrator's account); null
// when Windows cannot build it.
platform::ScopedLocalMemory EventDescriptor() {
  platform::ScopedLocalMemory descriptor;
  platform::ScopedKernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.receive())) return descriptor;
  alignas(TOKEN_USER) uint8_t buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  if (!GetTokenInformation(token.get(), TokenUser, buffer, sizeof(buffer), &size)) {
    return descriptor;
  }
  wchar_t* user = nullptr;
  if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &user)) {
    return descriptor;
  }
  platform::ScopedLocalMemory user_text(user);
  std::wstring sddl = L"D:P(A;;GA;;;";
  sddl += user;
  sddl += L")(A;;GA;;;SY)(A;;GA;;;BA)";
  PSECURITY_DESCRIPTOR made = nullptr;
  if (ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &made,
                                                           nullptr)) {
    descriptor.reset(made);
  }
  return descriptor;
}

// Auto-reset: each signal releases exactly one wait, so a go cannot be seen twice. A name
// that exists is never used: whoever made it first (with any DACL) could set or take it.
HANDLE CreateRunEvent(const std::string& name, PSECURITY_DESCRIPTOR descriptor) {
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
  HANDLE made = CreateEventA(&attributes, FALSE, FALSE, name.c_str());
  const DWORD error = GetLastError();
  platform::ScopedKernelHandle event(made);
  if (event && error == ERROR_ALREADY_EXISTS) {
    LOG(ERROR, "ElevatedProcess") << "The event " << name << " exists already; it is not used.";
    return nullptr;
  }
  if (!event) LOG(ERROR, "ElevatedProcess") << "Cannot create the event " << name << ".";
  return event.release();
}

std::string RandomRunId() {
  return platform::ToHex16(platform::RandomU64()) + platform::ToHex16(platform::RandomU64());
}

// The owner window belongs to the thread that created it (the window's thread), while the
// record may die on the install thread: DestroyWindow fails from any other thread, so the
// window is asked to close itself there.
void DestroyOwnerWindow(HWND window) {
  if (window == nullptr || !IsWindow(window)) return;
  if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
    DestroyWindow(window);
  } else {
    PostMessageW(window, WM_CLOSE, 0, 0);
  }
}

}  // namespace

std::string ElevatedEventName(const std::string& run_id, ElevatedEvent event) {
  const char* kind = event == ElevatedEvent::kGo     ? "-go"
                     : event == ElevatedEvent::kStop ? "-stop"
                                                     : "-taken";
  std::string name = "li-elevated-";
  name += run_id;
  name += kind;
  return name;
}

bool IsElevatedRunId(const std::string& run_id) {
  if (run_id.size() != 32) return false;
  for (char c : run_id) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

ElevatedProcess::ElevatedProcess() : ElevatedProcess(RandomRunId()) {}

ElevatedProcess::ElevatedProcess(std::string run_id) : run_id_(std::move(run_id)) {
  platform::ScopedLocalMemory descriptor = EventDescriptor();
  if (!descriptor) {
    logging::LogText(logging::kERROR, "ElevatedProcess", __LINE__,
            "Cannot build the events' security descriptor.");
    return;
  }
  go_event_.reset(CreateRunEvent(ElevatedEventName(run_id_, ElevatedEvent::kGo), descriptor.get()));
  stop_event_.reset(
      CreateRunEvent(ElevatedEventName(run_id_, ElevatedEvent::kStop), descriptor.get()));
  taken_event_.reset(
      CreateRunEvent(ElevatedEventName(run_id_, ElevatedEvent::kTaken), descriptor.get()));
  // Page-file backed and zeroed; unnamed, so only a handle of this process reaches it.
  block_section_.reset(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                          sizeof(DelayedParamBlock), nullptr));
  if (block_section_) {
    block_view_.reset(MapViewOfFile(block_section_.get(), FILE_MAP_WRITE, 0, 0,
                                    sizeof(DelayedParamBlock)));
  }
  if (!block_view_)
    logging::LogText(logging::kERROR, "ElevatedProcess", __LINE__,
            "Cannot create the delayed parameter block.");
  ready_ = go_event_ && stop_event_ && taken_event_ && block_view_;
}

void ElevatedProcess::PutChildSwitches(CommandLine* command_line) const {
  command_line->Put(switches::kElevatedRunId, run_id_);
  command_line->Put(
      switches::kDelayedParamsHandle,
      platform::ToString(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(block_section_.get()))));
}

bool ElevatedProcess::WriteDelayedParams(const DelayedParams& params) {
  if (!block_view_) return false;
  return WriteDelayedParamsTo(
      params, static_cast<DelayedParamBlock*>(const_cast<void*>(block_view_.get())));
}

DelayedParams ElevatedProcess::ReadDelayedParams() const {
  if (!block_view_) return DelayedParams();
  return ReadDelayedParamsFrom(*static_cast<const DelayedParamBlock*>(block_view_.get()));
}

void ElevatedProcess::Attach(HANDLE process, HWND owner_window) {
  process_.reset(process);
  if (owner_window != owner_window_) {
    DestroyOwnerWindow(owner_window_);
    owner_window_ = owner_window;
  }
}

ElevatedProcess::~ElevatedProcess() {
  if (process_) {
    if (!started_ && taken_event_ && WaitForSingleObject(taken_event_.get(), 0) == WAIT_OBJECT_0) {
      // The child confirmed its go after this record had stopped waiting for it: it runs
      // the setup and is waited for like a released child, never killed in the middle.
      logging::LogText(logging::kWARNING, "RunModule", __LINE__,
              "The elevated installer confirmed its go late; waiting for "
              "it to end.");
      WaitForSingleObject(process_.get(), INFINITE);
    } else {
      // A child still waiting for its go gets its stop and exits -1 by itself.
      if (!started_ && stop_event_) SetEvent(stop_event_.get());
      EnsureProcessFinished();
    }
  }
  DestroyOwnerWindow(owner_window_);
}

bool ElevatedProcess::RunModule(HANDLE stop_event) {
  if (!process_) {
    // A go now would release whichever child opens the events next.
    logging::LogText(logging::kERROR, "RunModule", __LINE__, "There is no elevated installer to release.");
    return false;
  }
  const DWORD child_id = GetProcessId(process_.get());
  ClearElevatedRunReport(child_id);
  if (!go_event_ || !taken_event_ || !SetEvent(go_event_.get())) {
    // Without the go the child never starts; waiting for it would wait for ever. Not
    // started: the destructor sends it home.
    logging::LogText(logging::kERROR, "RunModule", __LINE__, "Cannot release the elevated installer.");
    return false;
  }
  // The child's end before its confirmation is read below like any other end: it ran no
  // setup, and the report says so.
  HANDLE handles[] = {taken_event_.get(), process_.get(), stop_event};
  const DWORD count = stop_event != nullptr ? 3 : 2;
  switch (WaitForMultipleObjects(count, handles, FALSE, go_taken_timeout_ms_)) {
    case WAIT_OBJECT_0:
      started_ = true;
      break;
    case WAIT_OBJECT_0 + 1:
      break;
    case WAIT_OBJECT_0 + 2:
      if (!TakeGoBack() && started_) break;
      logging::LogText(logging::kERROR, "RunModule", 1406,
              "The elevated installer was terminated due to stop event.");
      return false;
    default:
      // The child hangs before its wait (the destructor sends it home), or somebody took
      // the go and did not confirm it.
      if (TakeGoBack()) {
        logging::LogText(logging::kERROR, "RunModule", __LINE__,
                "The elevated installer did not take its go.");
        return false;
      }
      break;
  }
  if (!started_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
    logging::LogText(logging::kERROR, "RunModule", __LINE__,
            "The elevated installer did not confirm its go.");
    return false;
  }
  if (WaitForSingleObject(process_.get(), INFINITE) != WAIT_OBJECT_0) {
    logging::LogText(logging::kERROR, "RunModule", __LINE__, "Cannot wait for the elevated installer.");
    return false;
  }
  DWORD code = 0;
  if (!GetExitCodeProcess(process_.get(), &code)) {
    logging::LogText(logging::kERROR, "RunModule", 1409,
            "Failed to get exit code of the elevated installer.");
    return false;
  }
  exit_code_ = code;
  const ElevatedRunReport report = ReadElevatedRunReport();
  if (report.child_process_id == child_id && report.dropped_log_lines != 0) {
    LOG(WARNING, "RunModule") << "The elevated installer could not log "
                              << static_cast<unsigned long>(report.dropped_log_lines)
                              << " lines.";
  }
  if (!ReportShowsSetupRan(report, child_id, code)) {
    LOG(ERROR, "RunModule") << "The elevated installer ran no setup to its end; it exited with "
                            << static_cast<int>(code) << ".";
    return false;
  }
  return true;
}

bool ElevatedProcess::TakeGoBack() {
  // Still signalled: nobody took it, and now nobody can.
  if (WaitForSingleObject(go_event_.get(), 0) == WAIT_OBJECT_0) return true;
  // Taken, maybe by the child just now: its confirmation follows at once. A confirmed child
  // is released and runs its setup whatever the master asks; it is waited for.
  if (WaitForSingleObject(taken_event_.get(), kElevatedGoConfirmGraceMs) == WAIT_OBJECT_0) {
    logging::LogText(logging::kWARNING, "RunModule", __LINE__,
            "The elevated installer took its go before the stop; it runs.");
    started_ = true;
  }
  return false;
}

void ElevatedProcess::EnsureProcessFinished() {
  if (!process_) return;
  if (WaitForSingleObject(process_.get(), finish_timeout_ms_) != WAIT_TIMEOUT) return;
  forcibly_terminated_ = true;
  logging::LogText(logging::kERROR, "EnsureProcessFinished", 1386,
          "The elevated installer hangs and must be forcibly terminated.");
  TerminateProcess(process_.get(), 0);
}

}  // namespace installer

#include "platform/process.h"

#include <userenv.h>

#include <algorithm>
#include <memory>
#include <string>

#include "platform/logging.h"
#include "platform/system_library.h"
#include "platform/windows_version.h"

namespace platform {

namespace {

struct EnvironmentBlockTraits {
  using Handle = void*;
  static Handle Null() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { ::DestroyEnvironmentBlock(h); }
};
using ScopedEnvironmentBlock = ScopedHandle<EnvironmentBlockTraits>;

// The process-thread attribute functions appeared in Vista; they are looked up so that the
// executable still loads on XP, where a start that needs a handle list fails instead.
struct AttributeListFunctions {
  using Initialize = BOOL(WINAPI*)(LPPROC_THREAD_ATTRIBUTE_LIST, DWORD, DWORD, PSIZE_T);
  using Update = BOOL(WINAPI*)(LPPROC_THREAD_ATTRIBUTE_LIST, DWORD, DWORD_PTR, PVOID, SIZE_T,
                               PVOID, PSIZE_T);
  using Delete = VOID(WINAPI*)(LPPROC_THREAD_ATTRIBUTE_LIST);

  Initialize initialize = nullptr;
  Update update = nullptr;
  Delete remove = nullptr;

  static AttributeListFunctions Get() {
    AttributeListFunctions f;
    f.initialize =
        reinterpret_cast<Initialize>(KernelFunction("InitializeProcThreadAttributeList"));
    f.update = reinterpret_cast<Update>(KernelFunction("UpdateProcThreadAttribute"));
    f.remove = reinterpret_cast<Delete>(KernelFunction("DeleteProcThreadAttributeList"));
    return f;
  }
  bool available() const { return initialize && update && remove; }
};

// An attribute list holding one PROC_THREAD_ATTRIBUTE_HANDLE_LIST entry. The handle array
// must stay alive and unchanged until the process is created.
class HandleListAttribute {
 public:
  HandleListAttribute() = default;
  HandleListAttribute(const HandleListAttribute&) = delete;
  HandleListAttribute& operator=(const HandleListAttribute&) = delete;
  ~HandleListAttribute() {
    if (initialized_) {
      DWORD saved = ::GetLastError();
      AttributeListFunctions::Get().remove(list());
      ::SetLastError(saved);
    }
  }

  bool Initialize(const std::vector<HANDLE>& handles) {
    const AttributeListFunctions functions = AttributeListFunctions::Get();
    if (!functions.available()) {
      ::SetLastError(ERROR_PROC_NOT_FOUND);
      return false;
    }
    SIZE_T size = 0;
    // The size query fails by design (ERROR_INSUFFICIENT_BUFFER) and only reports the size.
    functions.initialize(nullptr, 1, 0, &size);
    if (size == 0) return false;
    buffer_ = std::make_unique<unsigned char[]>(size);
    if (!functions.initialize(list(), 1, 0, &size)) return false;
    initialized_ = true;
    return functions.update(list(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                            const_cast<HANDLE*>(handles.data()), handles.size() * sizeof(HANDLE),
                            nullptr, nullptr) != FALSE;
  }

  LPPROC_THREAD_ATTRIBUTE_LIST list() const {
    return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.get());
  }

 private:
  std::unique_ptr<unsigned char[]> buffer_;
  bool initialized_ = false;
};

void AddUnique(std::vector<HANDLE>* handles, HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
  if (std::find(handles->begin(), handles->end(), handle) == handles->end()) {
    handles->push_back(handle);
  }
}

DWORD WaitTime(int64_t timeout_ms) {
  if (timeout_ms < 0) return 0;
  if (timeout_ms >= 0x100000000LL) return INFINITE;
  return static_cast<DWORD>(timeout_ms);
}

}  // namespace

ProcessHandle::ProcessHandle(ProcessHandle&& other) noexcept
    : handle_(std::move(other.handle_)), is_current_(other.is_current_) {
  other.is_current_ = false;
}

ProcessHandle& ProcessHandle::operator=(ProcessHandle&& other) noexcept {
  if (this != &other) {
    handle_ = std::move(other.handle_);
    is_current_ = other.is_current_;
    other.is_current_ = false;
  }
  return *this;
}

ProcessHandle ProcessHandle::Current() {
  ProcessHandle process;
  process.is_current_ = true;
  return process;
}

ProcessHandle ProcessHandle::Open(DWORD process_id, DWORD access) {
  return ProcessHandle(::OpenProcess(access, FALSE, process_id));
}

HANDLE ProcessHandle::handle() const {
  if (is_current_) return ::GetCurrentProcess();
  return handle_.is_valid() ? handle_.get() : nullptr;
}

DWORD ProcessHandle::Id() const {
  if (is_current_) return ::GetCurrentProcessId();
  if (!handle_.is_valid()) return 0;
  return ::GetProcessId(handle_.get());
}

HANDLE ProcessHandle::Release() {
  is_current_ = false;
  return handle_.release();
}

void ProcessHandle::Close() {
  is_current_ = false;
  handle_.reset();
}

bool ProcessHandle::Kill(uint32_t exit_code, bool wait) {
  if (!IsOpen()) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  if (!::TerminateProcess(handle(), exit_code)) return false;
  if (!wait) return true;
  DWORD result = ::WaitForSingleObject(handle(), kProcessEndWaitMs);
  if (result == WAIT_TIMEOUT) ::SetLastError(ERROR_TIMEOUT);
  return result == WAIT_OBJECT_0;
}

bool ProcessHandle::WaitExitFor(int64_t timeout_ms, uint32_t* exit_code) {
  if (!IsOpen()) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  DWORD result = ::WaitForSingleObject(handle(), WaitTime(timeout_ms));
  if (result != WAIT_OBJECT_0) {
    // A time-out is no Windows error; say what happened for the caller's log line.
    if (result == WAIT_TIMEOUT) ::SetLastError(ERROR_TIMEOUT);
    return false;
  }
  DWORD code = 0;
  if (!::GetExitCodeProcess(handle(), &code)) return false;
  *exit_code = code;
  return true;
}

bool ProcessHandle::WaitExit(uint32_t* exit_code) {
  return WaitExitFor(static_cast<int64_t>(INFINITE) + 1, exit_code);
}

ProcessHandle StartProcess(std::wstring_view command_line, const StartOptions& options) {
  STARTUPINFOEXW startup = {};
  startup.StartupInfo.cb = sizeof(STARTUPINFOW);
  DWORD creation_flags = 0;
  BOOL inherit_handles = FALSE;

  // Writable: CreateProcessW may store into the desktop name.
  wchar_t empty_desktop[] = L"";
  if (options.empty_desktop_name) startup.StartupInfo.lpDesktop = empty_desktop;

  switch (options.show_state) {
    case StartOptions::ShowState::kHidden:
      startup.StartupInfo.dwFlags |= STARTF_USESHOWWINDOW;
      startup.StartupInfo.wShowWindow = SW_HIDE;
      break;
    case StartOptions::ShowState::kNormal:
      startup.StartupInfo.dwFlags |= STARTF_USESHOWWINDOW;
      startup.StartupInfo.wShowWindow = SW_SHOWNORMAL;
      break;
    case StartOptions::ShowState::kDefault:
      break;
  }

  bool has_standard_handles =
      options.stdin_handle || options.stdout_handle || options.stderr_handle;
  if (has_standard_handles) {
    startup.StartupInfo.dwFlags |= STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = options.stdin_handle;
    startup.StartupInfo.hStdOutput = options.stdout_handle;
    startup.StartupInfo.hStdError = options.stderr_handle;
  }

  std::vector<HANDLE> inherited;
  bool use_list = options.inherit_mode == StartOptions::InheritMode::kList ||
                  (options.inherit_mode == StartOptions::InheritMode::kNone &&
                   has_standard_handles);
  if (options.inherit_mode == StartOptions::InheritMode::kAll) inherit_handles = TRUE;
  if (use_list) {
    if (options.inherit_mode == StartOptions::InheritMode::kList) {
      for (HANDLE handle : options.handles_to_inherit) AddUnique(&inherited, handle);
    }
    AddUnique(&inherited, options.stdin_handle);
    AddUnique(&inherited, options.stdout_handle);
    AddUnique(&inherited, options.stderr_handle);
  }
  HandleListAttribute attribute;
  if (!inherited.empty()) {
    if (!attribute.Initialize(inherited)) return ProcessHandle();
    startup.StartupInfo.cb = sizeof(startup);
    startup.lpAttributeList = attribute.list();
    creation_flags |= EXTENDED_STARTUPINFO_PRESENT;
    inherit_handles = TRUE;
  }

  if (options.job) {
    creation_flags |= CREATE_SUSPENDED;
    // Before Windows 8 a process can be in one job only; a caller already running in a job
    // (some shells and launchers put everything in one) would make the assignment fail.
    if (WindowsVersionClass() < kWindows8) creation_flags |= CREATE_BREAKAWAY_FROM_JOB;
  }
  if (options.force_breakaway_from_job) creation_flags |= CREATE_BREAKAWAY_FROM_JOB;

  ScopedEnvironmentBlock environment;
  if (options.user_token) {
    if (!::CreateEnvironmentBlock(environment.receive(), options.user_token, FALSE)) {
      return ProcessHandle();
    }
    creation_flags |= CREATE_UNICODE_ENVIRONMENT;
  }

  // CreateProcessW may write into the command line.
  std::wstring writable_command_line(command_line);
  PROCESS_INFORMATION info = {};
  BOOL created;
  if (options.user_token) {
    created = ::CreateProcessAsUserW(options.user_token, nullptr, writable_command_line.data(),
                                     nullptr, nullptr, inherit_handles, creation_flags,
                                     environment.get(), nullptr, &startup.StartupInfo, &info);
  } else {
    created = ::CreateProcessW(nullptr, writable_command_line.data(), nullptr, nullptr,
                               inherit_handles, creation_flags, nullptr, nullptr,
                               &startup.StartupInfo, &info);
  }
  if (!created) return ProcessHandle();
  ScopedKernelHandle thread(info.hThread);
  ProcessHandle process(info.hProcess);

  if (options.job) {
    if (!::AssignProcessToJobObject(options.job, process.handle())) {
      DWORD error = ::GetLastError();
      // The process has not run yet; it must not run outside the job.
      ::TerminateProcess(process.handle(), 1);
      ::WaitForSingleObject(process.handle(), kProcessEndWaitMs);
      ::SetLastError(error);
      return ProcessHandle();
    }
    ::ResumeThread(thread.get());
  }

  if (options.wait) ::WaitForSingleObject(process.handle(), INFINITE);
  return process;
}

namespace {

struct WindowSearch {
  DWORD process_id;
  std::vector<HWND> windows;
};

BOOL CALLBACK CollectProcessWindow(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<WindowSearch*>(param);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  // A window that never takes the foreground (the main window's drop shadow) would only be
  // raised above the window it belongs under.
  // Hidden windows (the input method's) cannot be brought to the front either.
  const bool activates = (::GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_NOACTIVATE) == 0;
  if (owner == search->process_id && activates && ::IsWindowVisible(window)) {
    search->windows.push_back(window);
  }
  return TRUE;
}

bool FrontByAttachingInput(HWND window) {
  HWND foreground = ::GetForegroundWindow();
  DWORD foreground_thread = foreground ? ::GetWindowThreadProcessId(foreground, nullptr) : 0;
  DWORD window_thread = ::GetWindowThreadProcessId(window, nullptr);
  // Windows only lets the thread that owns the foreground input hand the foreground on;
  // sharing its input state makes the window's thread count as that thread.
  bool attached = foreground_thread != 0 && foreground_thread != window_thread &&
                  ::AttachThreadInput(window_thread, foreground_thread, TRUE);
  ::BringWindowToTop(window);
  ::SetForegroundWindow(window);
  if (attached) ::AttachThreadInput(window_thread, foreground_thread, FALSE);
  return ::GetForegroundWindow() == window;
}

bool FrontByLiftingLockTimeout(HWND window) {
  DWORD lock_timeout = 0;
  // Without the current value it could not be put back; the user's setting matters more.
  bool lifted = ::SystemParametersInfoW(SPI_GETFOREGROUNDLOCKTIMEOUT, 0, &lock_timeout, 0) &&
                ::SystemParametersInfoW(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, nullptr,
                                        SPIF_SENDCHANGE);
  ::BringWindowToTop(window);
  ::SetForegroundWindow(window);
  if (lifted) {
    ::SystemParametersInfoW(SPI_SETFOREGROUNDLOCKTIMEOUT, 0,
                            reinterpret_cast<void*>(static_cast<UINT_PTR>(lock_timeout)),
                            SPIF_SENDCHANGE);
  }
  return ::GetForegroundWindow() == window;
}

}  // namespace

bool BringProcessWindowToTop(DWORD process_id) {
  if (process_id == 0) {
    logging::LogText(logging::kERROR, "BringProcessWindowToTop", 1003,
                     "Failed to bring process window to top: wrong process id");
    return false;
  }
  WindowSearch search{process_id, {}};
  ::EnumWindows(CollectProcessWindow, reinterpret_cast<LPARAM>(&search));
  for (HWND window : search.windows) {
    if (FrontByAttachingInput(window)) return true;
    if (FrontByLiftingLockTimeout(window)) return true;
  }
  return false;
}

}  // namespace platform

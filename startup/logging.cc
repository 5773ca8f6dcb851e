#include "startup/logging.h"

#include <windows.h>

#include <atomic>
#include <cwchar>

#include "platform/scoped_handle.h"
#include "platform/strings.h"

namespace logging {
namespace {

constexpr wchar_t kMutexName[] = L"3E40F524-16FA-440A-B919-B44AB355B174";
constexpr DWORD kMutexWaitMs = 1000;

HANDLE OpenLogMutex() {
  HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, kMutexName);
  if (!mutex) mutex = CreateMutexW(nullptr, FALSE, kMutexName);
  if (!mutex) mutex = OpenMutexW(SYNCHRONIZE, FALSE, kMutexName);
  return mutex;
}

// Process-wide state. Built during static initialisation and never destroyed: lines may
// still be logged by other static destructors, and Windows closes the mutex at exit.
struct LoggerState {
  std::atomic<int> initialised{0};
  std::wstring path;
  LogAccess access = LogAccess::kOwner;
  HANDLE mutex = OpenLogMutex();
};

LoggerState& State() {
  static LoggerState* state = new LoggerState;
  return *state;
}

// Makes sure the state (and so the mutex) exists before main() runs.
[[maybe_unused]] const bool kStateBuilt = (State(), true);

// "YYYY-MM-DD hh:mm:ss <" in local time.
std::wstring CurrentDateTime() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  const struct {
    unsigned value;
    size_t digits;
    wchar_t after;
  } fields[] = {{now.wYear, 4, L'-'},  {now.wMonth, 2, L'-'},  {now.wDay, 2, L' '},
                {now.wHour, 2, L':'},  {now.wMinute, 2, L':'}, {now.wSecond, 2, L' '}};
  std::wstring text;
  for (const auto& field : fields) {
    const std::wstring number = platform::ToWString(field.value);
    if (number.size() < field.digits) text.append(field.digits - number.size(), L'0');
    text += number;
    text += field.after;
  }
  return text + L'<';
}

const wchar_t* SeverityTag(Severity severity) {
  switch (severity) {
    case Severity::kInfo:
      return L"INFO: ";
    case Severity::kError:
      return L"ERROR: ";
    case Severity::kWarning:
      return L"WARNING: ";
  }
  return L"INFO: ";
}

bool LookUpMessage(DWORD flags, HMODULE module, uint32_t code, std::wstring* text) {
  wchar_t buffer[1024];
  DWORD length = FormatMessageW(flags | FORMAT_MESSAGE_IGNORE_INSERTS, module, code,
                                MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), buffer, 1024,
                                nullptr);
  if (length == 0) return false;
  text->assign(buffer, length);
  return true;
}

// A path the user chose (TEMP) may name a named pipe: its server never gets to act as the
// writer (anonymous impersonation only).
constexpr DWORD kNoImpersonation = SECURITY_SQOS_PRESENT | SECURITY_ANONYMOUS;

// Opens the log for appending, creating it when missing.
HANDLE OpenLogFile(const std::wstring& path) {
  return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL | kNoImpersonation, nullptr);
}

// Opens the log for appending under `LogAccess::kAppendOnly`; empty when it is missing or
// not an ordinary file. The checks are made on the open handle, so a link put in place
// after them changes nothing.
platform::ScopedKernelHandle OpenExistingOrdinaryFile(const std::wstring& path) {
  platform::ScopedKernelHandle file(
      CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                  FILE_FLAG_OPEN_REPARSE_POINT | kNoImpersonation, nullptr));
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!file || GetFileType(file.get()) != FILE_TYPE_DISK ||
      !GetFileInformationByHandle(file.get(), &information) ||
      !IsOrdinaryLogFile(information.dwFileAttributes, information.nNumberOfLinks)) {
    return platform::ScopedKernelHandle();
  }
  return file;
}

// "X:\..." on a fixed, removable or RAM disk: no network share (where the open would sign in
// with the user's credentials), device or pipe.
bool OnLocalDrive(const std::wstring& path) {
  const wchar_t drive = path.empty() ? L'\0' : static_cast<wchar_t>(path[0] | 0x20);
  if (path.size() < 4 || drive < L'a' || drive > L'z' || path[1] != L':' || path[2] != L'\\') {
    return false;
  }
  const UINT type = GetDriveTypeW(path.substr(0, 3).c_str());
  return type == DRIVE_FIXED || type == DRIVE_REMOVABLE || type == DRIVE_RAMDISK;
}

void AppendToFile(const std::wstring& path, LogAccess access, std::wstring line) {
  const bool owner = access == LogAccess::kOwner;
  platform::ScopedKernelHandle file(owner ? platform::ScopedKernelHandle(OpenLogFile(path))
                                          : OpenExistingOrdinaryFile(path));
  if (!file) return;
  // A full log is rotated once per line. When the rename to ".old" fails (another program
  // holds the log without delete sharing) the line goes to the large file instead, so a
  // stuck rotation never repeats and never loses the line.
  bool rotated = false;
  for (;;) {
    LARGE_INTEGER size;
    LARGE_INTEGER zero{};
    if (!SetFilePointerEx(file.get(), zero, &size, FILE_END)) return;
    if (size.QuadPart == 0) {
      line.insert(line.begin(), L'\xFEFF');
      break;
    }
    if (static_cast<uint64_t>(size.QuadPart) < kMaxLogSize || rotated || !owner) break;
    rotated = true;
    file.reset();
    std::wstring old_path = path + L".old";
    DeleteFileW(old_path.c_str());
    MoveFileW(path.c_str(), old_path.c_str());
    file.reset(OpenLogFile(path));
    if (!file) return;
  }
  DWORD written = 0;
  WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size() * sizeof(wchar_t)), &written,
            nullptr);
}

}  // namespace

void InitLogging(const std::wstring& path, LogAccess access) {
  LoggerState& state = State();
  int expected = 0;
  // The path is written by the one caller that wins the exchange; the installer calls this
  // once on its main thread before any other thread exists.
  if (state.initialised.compare_exchange_strong(expected, 2)) {
    // An append-only process never writes off the local disks: without a path it logs
    // nothing.
    state.path = access == LogAccess::kAppendOnly && !OnLocalDrive(path) ? std::wstring() : path;
    state.access = access;
    state.initialised.store(1);
  }
}

bool IsOrdinaryLogFile(uint32_t attributes, uint32_t links) {
  return !(attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) && links == 1;
}

std::wstring LogPath() {
  LoggerState& state = State();
  return state.initialised.load() == 1 ? state.path : std::wstring();
}

std::wstring FormatLogPrefix(std::wstring_view date_time, uint32_t thread_id, Severity severity,
                             std::string_view function, int line, std::wstring_view message) {
  std::wstring text(date_time);
  text += platform::ToWString(thread_id);
  text += L"> ";
  text += SeverityTag(severity);
  text += platform::WidenUtf8(function);
  text += L" (";
  text += platform::ToWString(line);
  text += L"): ";
  // Messages carry outside text (the tag, documents, server answers): a line break in it
  // must not start a line of its own that reads as the installer's, nor any other control
  // character reach the reader's screen. Each becomes "\xHH" ("\uHHHH" for the Unicode
  // line and paragraph separators).
  static const wchar_t kHex[] = L"0123456789ABCDEF";
  for (const wchar_t c : message) {
    const bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F);
    if (!control && c != 0x2028 && c != 0x2029) {
      text += c;
      continue;
    }
    text += control ? L"\\x" : L"\\u20";
    text += kHex[(c >> 4) & 0xF];
    text += kHex[c & 0xF];
  }
  return text;
}

std::wstring DescribeLastError(uint32_t code) {
  std::wstring text;
  if (LookUpMessage(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, &text)) return text;
  for (const wchar_t* name : {L"wininet.dll", L"urlmon.dll"}) {
    HMODULE module = GetModuleHandleW(name);
    if (module && LookUpMessage(FORMAT_MESSAGE_FROM_HMODULE, module, code, &text)) return text;
  }
  return L"unknown error 0x" + platform::Widen(platform::ToHexString(code)) + L"\n";
}

void LogMessage(Severity severity, const char* function, int line, std::wstring_view message) {
  // The caller's message is complete here, so this is the error that the line reports.
  // Logging itself leaves the thread's last error as it found it.
  const DWORD code = GetLastError();
  struct RestoreLastError {
    DWORD code;
    ~RestoreLastError() { SetLastError(code); }
  } restore{code};
  LoggerState& state = State();
  if (state.initialised.load() != 1) return;

  std::wstring text = FormatLogPrefix(CurrentDateTime(), GetCurrentThreadId(), severity,
                                      function ? function : "", line, message);
  if (severity == Severity::kError) {
    text += L" Last error: ";
    text += DescribeLastError(code);
  } else {
    text += L'\n';
  }

  if (!state.mutex) return;
  DWORD wait = WaitForSingleObject(state.mutex, kMutexWaitMs);
  if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) return;
  AppendToFile(state.path, state.access, std::move(text));
  ReleaseMutex(state.mutex);
}

std::wstring FormatSetupExitCode(uint32_t exit_code) {
  struct StatusName {
    uint32_t status;
    const wchar_t* name;
  };
  static const StatusName kNames[] = {
      {0, L"SUCCESS_EXIT_CODE"},
      {1, L"GENERIC_ERROR"},
      {101, L"GENERIC_INITIALIZATION_FAILURE"},
      {105, L"COMMAND_STRING_OVERFLOW"},
      {107, L"WAIT_FOR_PROCESS_FAILED"},
      {108, L"PATH_STRING_OVERFLOW"},
      {109, L"UNABLE_TO_GET_WORK_DIRECTORY"},
      {110, L"UNABLE_TO_FIND_REGISTRY_KEY"},
      {111, L"PATCH_NOT_FOR_INSTALLED_VERSION"},
      {112, L"UNABLE_TO_EXTRACT_CHROME_ARCHIVE"},
      {113, L"UNABLE_TO_EXTRACT_SETUP_BL"},
      {115, L"UNABLE_TO_EXTRACT_SETUP_EXE"},
      {116, L"UNABLE_TO_EXTRACT_SETUP"},
      {117, L"UNABLE_TO_SET_DIRECTORY_ACL"},
  };
  uint32_t status = exit_code >> 24;
  uint32_t detail = exit_code & 0xFFFFFF;
  std::wstring text;
  for (const StatusName& entry : kNames) {
    if (entry.status == status) {
      text = std::wstring(entry.name) + L"(" + platform::ToWString(status) + L")";
      break;
    }
  }
  if (text.empty()) text = L"Exit code: " + platform::ToWString(status);
  text += L"; error: ";
  text += platform::ToWString(detail);
  return text;
}

LogLine& LogLine::operator<<(std::string_view text) {
  message_ += platform::WidenUtf8(text);
  return *this;
}

LogLine& LogLine::AppendSigned(long long value) {
  message_ += platform::ToWString(static_cast<int64_t>(value));
  return *this;
}

LogLine& LogLine::AppendUnsigned(unsigned long long value) {
  message_ += platform::ToWString(static_cast<uint64_t>(value));
  return *this;
}

void ResetLoggingForTesting() {
  LoggerState& state = State();
  state.initialised.store(0);
  state.path.clear();
  state.access = LogAccess::kOwner;
}

}  // namespace logging

#include "platform/logging.h"

#include <windows.h>

#include <atomic>
#include <cwchar>
#include <vector>

#include "platform/file_util.h"
#include "platform/scoped_handle.h"
#include "platform/shared_sections.h"
#include "platform/strings.h"
#include "platform/sync.h"
#include "platform/user_rights.h"

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
// still be logged by other static destructors, and Windows closes the handles at exit.
struct LoggerState {
  std::atomic<int> initialised{0};
  std::wstring path;
  // The path's folder as given, the log's bare name, and whether a link on the folder's own
  // name is followed (a process with no more rights than the folder's user).
  std::wstring folder;
  std::wstring file_name;
  bool follow_links = false;
  // A process with more rights: its token's user (a SID's bytes) and whether that is SYSTEM.
  std::vector<uint8_t> user;
  bool system = false;
  // What the final paths of the folder and of the log must be.
  std::wstring expected_folder;
  std::wstring expected_final_path;
  HANDLE mutex = OpenLogMutex();
  // The elevated child's master (opened with PROCESS_DUP_HANDLE), and its id.
  HANDLE master = nullptr;
  uint32_t master_process_id = 0;
  // An owner that shares its log: the handle of its last line, kept open for the child.
  bool share = false;
  // Threads of this process may write lines at once without the named mutex: the swap of
  // `held` is theirs alone.
  platform::CriticalLock held_lock;
  HANDLE held = nullptr;
  std::atomic<uint32_t> dropped{0};
  // Set when a wait for the mutex ran out: lines then only try it, until it is taken again.
  std::atomic<bool> mutex_held_elsewhere{false};
  std::atomic<uint32_t> mutex_timeouts{0};
};

// Tests: the rights the log's rules assume instead of the token's.
struct {
  bool set = false;
  bool more_rights = false;
  bool system = false;
} g_rights_for_testing;

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
// Every process shares the log for reading, writing and renaming: the master keeps a handle
// open for its elevated child while the others append and rotate.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool SamePath(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() &&
         CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, a.c_str(), static_cast<int>(a.size()),
                        b.c_str(), static_cast<int>(b.size())) == CSTR_EQUAL;
}

std::wstring WithoutTrailingSeparators(std::wstring path) {
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  return path;
}

// The folder part of the log's path ("\" for a log in the root of the current drive).
std::wstring FolderOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L'\\');
  if (slash == std::wstring::npos) return std::wstring();
  return slash == 0 ? std::wstring(L"\\") : path.substr(0, slash);
}

// The log's folder as the final-path query names it, without trailing separators. For a
// process with no more rights than the folder's user (`follow_links`) the folder is taken as
// the final-path query finds it now (a TEMP under a junction, on a subst or mapped drive):
// what that user could redirect later gains nothing, the line is written with the user's
// rights anyway. With more rights the comparison stays strict: the folder must be where its
// path says, in long form.
std::wstring ExpectedFolder(const std::wstring& folder, bool follow_links) {
  if (platform::FinalPathAvailable() && follow_links) {
    platform::ScopedKernelHandle handle(CreateFileW(
        folder.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | kNoImpersonation, nullptr));
    const std::wstring final_folder = handle ? platform::FinalPathOf(handle.get()) : L"";
    if (!final_folder.empty()) return WithoutTrailingSeparators(final_folder);
  }
  wchar_t buffer[MAX_PATH];
  DWORD length = GetLongPathNameW(folder.c_str(), buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return WithoutTrailingSeparators(folder);
  return WithoutTrailingSeparators(std::wstring(buffer, length));
}

// Whether the open `file` is the log: a disk file, no folder or link, one name, and found at
// `expected` however the open got there (only its last part, the name, with `name_only`).
// XP has no final-path query: there the name and the path go unchecked.
bool IsTheLog(HANDLE file, const std::wstring& expected, bool name_only) {
  BY_HANDLE_FILE_INFORMATION information = {};
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &information) ||
      !IsOrdinaryLogFile(information.dwFileAttributes, information.nNumberOfLinks)) {
    return false;
  }
  if (!platform::FinalPathAvailable()) return true;
  std::wstring final_path = platform::FinalPathOf(file);
  if (name_only) final_path.erase(0, final_path.find_last_of(L'\\') + 1);
  return SamePath(final_path, expected);
}

// For a process with more rights than the folder's user, whether the owner of `object` (a
// handle with READ_CONTROL) is one it may trust: its own user, or, where `system_owners`,
// SYSTEM or the Administrators (who own what an elevated process or the system makes). What
// anyone else owns, anyone else may have planted, or reach through a path of their choosing.
bool HasTrustedOwner(const LoggerState& state, HANDLE object, bool system_owners) {
  if (state.follow_links) return true;
  std::vector<uint8_t> bytes;
  if (!platform::OwnerOf(object, &bytes)) return false;
  PSID owner = bytes.data();
  return (!state.user.empty() && EqualSid(owner, const_cast<uint8_t*>(state.user.data()))) ||
         (system_owners && (IsWellKnownSid(owner, WinLocalSystemSid) ||
                            IsWellKnownSid(owner, WinBuiltinAdministratorsSid)));
}

// The log's folder, opened for one line: a folder (with more rights than its user, not
// itself a link: the open then takes the link, whose attributes refuse it) found at its
// expected final path, and with more rights owned by the token's user (for SYSTEM also by
// SYSTEM or the Administrators: the system's temporary folder). A folder someone chose for
// the process (TEMP set to the system folder, which passes every path check) belongs to
// neither. The log is then opened and renamed by name inside this handle, so that no
// junction on the folder's path, swapped in after the check, can steer either.
platform::ScopedKernelHandle OpenLogFolder(const LoggerState& state) {
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | kNoImpersonation |
                      (state.follow_links ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  platform::ScopedKernelHandle folder(CreateFileW(
      state.folder.c_str(),
      FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE,
      kShareAll, nullptr, OPEN_EXISTING, flags, nullptr));
  BY_HANDLE_FILE_INFORMATION information = {};
  constexpr DWORD kKind = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  if (folder &&
      (!GetFileInformationByHandle(folder.get(), &information) ||
       (information.dwFileAttributes & kKind) != FILE_ATTRIBUTE_DIRECTORY ||
       (platform::FinalPathAvailable() &&
        !SamePath(WithoutTrailingSeparators(platform::FinalPathOf(folder.get())),
                  state.expected_folder)) ||
       !HasTrustedOwner(state, folder.get(), state.system))) {
    folder.reset();
  }
  return folder;
}

// Opens the log for one line, creating it when missing, inside the checked folder `*folder`,
// for appending only: every write lands at the end of the file as one piece, whoever else
// writes. The checks of `IsTheLog` and, with more rights, the owner decide (an existing log
// that someone else owns was planted: its reader learns the run, its oplock would stall
// it); a file that fails them stays as it was.
platform::ScopedKernelHandle OpenLogFile(const LoggerState& state,
                                         platform::ScopedKernelHandle* folder, bool* can_rename) {
  *can_rename = false;
  *folder = OpenLogFolder(state);
  platform::ScopedKernelHandle file;
  if (!*folder) return file;
  constexpr DWORD kAccess = FILE_APPEND_DATA | READ_CONTROL;
  bool created = false;
  if (platform::OpenFileInFolder(folder->get(), state.file_name, kAccess | DELETE, kShareAll,
                                 &file, &created)) {
    *can_rename = true;
  } else if (GetLastError() == ERROR_SHARING_VIOLATION) {
    // Another program holds the log without delete sharing: the line still goes in, but
    // this open cannot rotate it.
    platform::OpenFileInFolder(folder->get(), state.file_name, kAccess, kShareAll, &file,
                               &created);
  }
  if (file && (!IsTheLog(file.get(), state.expected_final_path, false) ||
               !HasTrustedOwner(state, file.get(), true))) {
    // A file this open made where the path led is taken back; one that was there stays.
    if (created) platform::DeleteThroughHandle(file.get());
    file.reset();
  }
  return file;
}

bool SizeOf(HANDLE file, uint64_t* size) {
  LARGE_INTEGER bytes;
  if (!GetFileSizeEx(file, &bytes)) return false;
  *size = static_cast<uint64_t>(bytes.QuadPart);
  return true;
}

// Writes `line` in one call at the end of the file (the offset that says so, for a borrowed
// handle that may not be opened for appending only), with the byte-order mark in front in an
// empty file.
void Write(HANDLE file, std::wstring line, uint64_t size) {
  if (size == 0) line.insert(line.begin(), L'\xFEFF');
  OVERLAPPED at_end = {};
  at_end.Offset = 0xFFFFFFFF;
  at_end.OffsetHigh = 0xFFFFFFFF;
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size() * sizeof(wchar_t)), &written,
            &at_end);
}

// The line of a process that opens the log itself. A full log is moved to "<name>.old"
// (replacing the one there) by renaming its handle inside its checked folder, only by the
// holder of the mutex (`locked`): two rotations at once could move a fresh log over the
// backup. When the rename fails (another program holds the log without delete sharing) or
// the mutex is elsewhere, the line goes to the large file: a stuck rotation never repeats and
// never loses the line.
// Keeps `file` as the handle the elevated child borrows, and publishes it, closing the one
// kept before.
void HoldForChild(LoggerState& state, platform::ScopedKernelHandle file) {
  platform::AutoLock lock(state.held_lock);
  if (state.held) CloseHandle(state.held);
  state.held = file.release();
  installer::PublishLogHandle(GetCurrentProcessId(),
                              static_cast<uint32_t>(reinterpret_cast<uintptr_t>(state.held)));
}

void AppendAsOwner(LoggerState& state, std::wstring line, bool locked) {
  platform::ScopedKernelHandle folder;
  bool can_rename = false;
  platform::ScopedKernelHandle file = OpenLogFile(state, &folder, &can_rename);
  uint64_t size = 0;
  if (!file || !SizeOf(file.get(), &size)) return;
  if (size >= kMaxLogSize && locked && can_rename &&
      platform::RenameThroughHandle(file.get(), folder.get(), state.file_name + L".old")) {
    file = OpenLogFile(state, &folder, &can_rename);
    if (!file || !SizeOf(file.get(), &size)) return;
  }
  Write(file.get(), std::move(line), size);
  if (state.share) {
    // The child duplicates the published value at any time; whatever a closed value comes
    // to name in this process fails the child's checks unless it is the log again.
    HoldForChild(state, std::move(file));
  }
}

// The elevated child's line, through a duplicate of the master's handle. The master opened
// it with the rights of the user whose folder the log is in, so the child checks only that
// it is a file of the log's name with one name and no link: its own strict expectation of
// the path would drop every line of a user whose TEMP lies under a junction or on a subst
// or mapped drive, and protect nothing that user could not already write.
void AppendAsBorrower(LoggerState& state, std::wstring line) {
  const installer::PublishedLogHandle published = installer::ReadPublishedLogHandle();
  HANDLE duplicate = nullptr;
  if (state.master == nullptr || published.process_id != state.master_process_id ||
      !DuplicateHandle(state.master,
                       reinterpret_cast<HANDLE>(static_cast<uintptr_t>(published.handle_value)),
                       GetCurrentProcess(), &duplicate, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    state.dropped.fetch_add(1);
    return;
  }
  platform::ScopedKernelHandle file(duplicate);
  uint64_t size = 0;
  if (!IsTheLog(file.get(), state.file_name, true) || !SizeOf(file.get(), &size)) {
    state.dropped.fetch_add(1);
    return;
  }
  Write(file.get(), std::move(line), size);
}

// Takes the mutex for one line (an abandoned one counts as taken). It is a named object any
// process can create and hold first: the line never depends on it (the write is one append
// on Windows) and only the rotation does. Wine appends by the size it last saw, so there the
// mutex keeps the installer's own processes from writing over each other's lines. A wait
// that runs out makes the next lines only try it, until it is taken again: a mutex held
// elsewhere costs a process one wait, not one per line.
bool TakeMutex(LoggerState& state) {
  if (!state.mutex) return false;
  const bool held_elsewhere = state.mutex_held_elsewhere.load();
  const DWORD wait = WaitForSingleObject(state.mutex, held_elsewhere ? 0 : kMutexWaitMs);
  if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
    state.mutex_held_elsewhere.store(false);
    return true;
  }
  if (!held_elsewhere) state.mutex_timeouts.fetch_add(1);
  state.mutex_held_elsewhere.store(true);
  return false;
}

// Reads which rights the log's rules assume: with more rights than the folder's user, the
// token's user and whether it is SYSTEM.
void ReadRights(LoggerState& state) {
  state.follow_links = !(g_rights_for_testing.set ? g_rights_for_testing.more_rights
                                                   : installer::RunsWithMoreRightsThanFolderUser());
  if (state.follow_links) return;
  platform::ScopedKernelHandle token;
  alignas(TOKEN_USER) uint8_t buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.receive()) &&
      GetTokenInformation(token.get(), TokenUser, buffer, sizeof(buffer), &size)) {
    PSID user = reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid;
    const auto* bytes = static_cast<const uint8_t*>(user);
    state.user.assign(bytes, bytes + GetLengthSid(user));
    state.system = IsWellKnownSid(user, WinLocalSystemSid);
  }
  if (g_rights_for_testing.set) state.system = g_rights_for_testing.system;
}

bool StartInitialising(LoggerState& state) {
  int expected = 0;
  // The winner of the exchange writes the state; the installer initialises once on its
  // main thread before any other thread exists.
  return state.initialised.compare_exchange_strong(expected, 2);
}

}  // namespace

void InitLogging(const std::wstring& path) {
  LoggerState& state = State();
  if (!StartInitialising(state)) return;
  state.path = path;
  state.folder = FolderOf(path);
  state.file_name = path.substr(path.find_last_of(L'\\') + 1);
  ReadRights(state);
  state.expected_folder = ExpectedFolder(state.folder, state.follow_links);
  state.expected_final_path = state.expected_folder + L'\\' + state.file_name;
  state.initialised.store(1);
}

void InitBorrowedLogging(const std::wstring& expected_path, uint32_t master_process_id) {
  LoggerState& state = State();
  if (!StartInitialising(state)) return;
  // The process handle stays open: a process id that another process takes once the master
  // has gone never lends this one its handles.
  state.master = OpenProcess(PROCESS_DUP_HANDLE, FALSE, master_process_id);
  state.master_process_id = master_process_id;
  state.file_name = expected_path.substr(expected_path.find_last_of(L'\\') + 1);
  state.initialised.store(1);
}

void ShareLogWithElevatedChild() {
  LoggerState& state = State();
  if (state.initialised.load() != 1 || state.master != nullptr) return;
  const bool locked = TakeMutex(state);
  state.share = true;
  platform::ScopedKernelHandle folder;
  bool can_rename = false;
  platform::ScopedKernelHandle file = OpenLogFile(state, &folder, &can_rename);
  if (file) HoldForChild(state, std::move(file));
  if (locked) ReleaseMutex(state.mutex);
}

uint32_t DroppedLineCount() { return State().dropped.load(); }

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
  for (const wchar_t c : message) {
    const bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F);
    if (!control && c != 0x2028 && c != 0x2029) {
      text += c;
      continue;
    }
    text += control ? L"\\x" : L"\\u20";
    text += static_cast<wchar_t>(platform::kUpperHexDigits[(c >> 4) & 0xF]);
    text += static_cast<wchar_t>(platform::kUpperHexDigits[c & 0xF]);
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

  const bool locked = TakeMutex(state);
  if (state.master_process_id != 0) {
    AppendAsBorrower(state, std::move(text));
  } else {
    AppendAsOwner(state, std::move(text), locked);
  }
  if (locked) ReleaseMutex(state.mutex);
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

LogLine::LogLine(Severity severity, const char* function, int line)
    : severity_(severity), function_(function), line_(line) {}

LogLine::~LogLine() { LogMessage(severity_, function_, line_, message_); }

void LogText(Severity severity, const char* function, int line, const char* text) {
  LogLine(severity, function, line) << text;
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

void SetRightsForTesting(bool more_rights, bool system) {
  g_rights_for_testing.set = true;
  g_rights_for_testing.more_rights = more_rights;
  g_rights_for_testing.system = system;
}

uint32_t MutexTimeoutsForTesting() { return State().mutex_timeouts.load(); }

void ResetLoggingForTesting() {
  LoggerState& state = State();
  state.initialised.store(0);
  state.path.clear();
  state.folder.clear();
  state.file_name.clear();
  state.follow_links = false;
  state.user.clear();
  state.system = false;
  g_rights_for_testing.set = false;
  state.mutex_held_elsewhere.store(false);
  state.mutex_timeouts.store(0);
  state.expected_folder.clear();
  state.expected_final_path.clear();
  if (state.master) CloseHandle(state.master);
  state.master = nullptr;
  state.master_process_id = 0;
  state.share = false;
  {
    platform::AutoLock lock(state.held_lock);
    if (state.held) CloseHandle(state.held);
    state.held = nullptr;
  }
  state.dropped.store(0);
}

}  // namespace logging

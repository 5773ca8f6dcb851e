// The shared installer log.
//
// Every installer process appends UTF-16LE lines to one file in the user's temporary folder,
// each line in one write to a file opened for appending only, so lines from several
// processes never interleave and every line is on disk as soon as it returns. The file
// starts with a byte-order mark and is moved to "<path>.old" at 1 MiB.
//
// Processes that run a master's path (the master, elevated or not, the private-folder copy,
// a second master, the interface-check child) open the log for each line. That folder is the
// user's, and a process may run there with administrator rights (a master started elevated,
// or by a deployment tool as SYSTEM, whose TEMP any user can create names in), so the folder
// is opened first and checked on its handle: a folder whose final path is the expected one
// (for a process with more rights than the folder's user, the path as given in long form,
// and the folder's own name no link; for a process with no more rights, the folder's final
// path read at initialisation, so a TEMP under a junction or on a subst or mapped drive
// keeps its log). With more rights the folder must also belong to the token's user (to
// SYSTEM or the Administrators as well, for SYSTEM): a TEMP that the user pointed at the
// system folder is refused. The log is then opened by its bare name inside that handle,
// following no reparse point on the name and not waiting on anyone's opportunistic lock,
// and used only when the open handle shows a disk file with one name whose final path is
// the log's expected one (and, with more rights, whose owner is the token's user, SYSTEM or
// the Administrators: anyone else's was planted); the rotation renames that handle to the
// bare ".old" name inside the same folder handle. A mount point on the way, swapped in after
// the check, an object-manager link or a hard link makes a refused log or a refused
// rotation, never a write or a replacement elsewhere. XP has no final-path query: there the
// same opens go without the path comparisons.
//
// The elevated child opens no log by path at all (`InitBorrowedLogging`): its master keeps
// the handle of its last line open and publishes the handle's value in the shared section
// (`ShareLogWithElevatedChild`); for each line the child duplicates that handle out of the
// master process and writes through it when the duplicate is a disk file of the log's name
// with one name. Whatever value it finds there, it can reach only a file its master process
// already had open for writing with the user's rights. Only owners rotate; a child line
// written after another process rotated the log finds the master's handle on the ".old"
// file, fails the name check and is dropped and counted. A child that cannot get the
// handle drops the line and counts it (`DroppedLineCount`).
//
// A named mutex serialises the lines of the installer's processes where it can (Wine's
// appends are not atomic between processes) and guards the rotation, but no line waits for
// it more than once: anyone can create and hold a named mutex first. While it is held
// elsewhere lines are still written, and the log is not rotated.
//
// Logging never fails its caller: before initialisation, or when the file cannot be opened
// or is refused, the line is dropped.
//
// Use the stream macros:
//   LOG(INFO, "GetInfo") << "Brand package path: " << path;       // source line number
//   LOG_AT(INFO, "wWinMain", 131) << "...";                        // a fixed line number
// Severities: INFO (0), ERROR (1, adds the text of the thread's last Windows error),
// WARNING (2). Narrow text is widened as outside text is (`platform::WidenUtf8`: UTF-8 when it
// is valid UTF-8, else byte by byte). Control characters in a message are written escaped
// ("\x0D"), so no message can break its line or forge another.
#ifndef PLATFORM_LOGGING_H_
#define PLATFORM_LOGGING_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace logging {

enum class Severity : int { kInfo = 0, kError = 1, kWarning = 2 };

// Constants the macros paste together with their first argument.
inline constexpr Severity kINFO = Severity::kInfo;
inline constexpr Severity kERROR = Severity::kError;
inline constexpr Severity kWARNING = Severity::kWarning;

// Size at which the log is moved to "<path>.old" before the next line.
inline constexpr uint64_t kMaxLogSize = 1048576;

// Sets the log path of a process that opens the log itself; only the first initialisation
// has an effect.
void InitLogging(const std::wstring& path);
// The elevated child: lines go through the log handle that the process `master_process_id`
// publishes, and only while the duplicate is a disk file with one name whose final path ends
// in the name of `expected_path`. Only the first initialisation has an effect.
void InitBorrowedLogging(const std::wstring& expected_path, uint32_t master_process_id);
// The master, before it starts an elevated child: from now on it keeps the log handle of its
// last line open and publishes it for the child (at once, with a first open of the log).
void ShareLogWithElevatedChild();
// Lines a borrowing process could not write.
uint32_t DroppedLineCount();

// Whether a log with these attributes (GetFileAttributesW's) and this number of names may be
// written: no folder, no reparse point (a link of any kind), no second name (a hard link).
bool IsOrdinaryLogFile(uint32_t attributes, uint32_t links);
// The path set by `InitLogging`, empty before.
std::wstring LogPath();

// Formats and appends one line. For kError the thread's last error is read after the text
// is built (so the caller's own calls do not disturb it) and its system text appended.
void LogMessage(Severity severity, const char* function, int line, std::wstring_view message);

// The text of one line without the error suffix: "<date time> <<tid>> <SEV>: <tag> (<line>): <msg>",
// with the message's control characters escaped.
std::wstring FormatLogPrefix(std::wstring_view date_time, uint32_t thread_id, Severity severity,
                             std::string_view function, int line, std::wstring_view message);

// System text for an error code (English, system table, then WinINet's and URLMon's tables
// when those modules are loaded); "unknown error 0x<hex>\n" when no table knows the code.
std::wstring DescribeLastError(uint32_t code);

// Text form of a browser setup exit code: the top 8 bits are a status, the low 24 bits an
// error detail. "GENERIC_ERROR(1); error: 5", or "Exit code: 42; error: 0" for unknown statuses.
std::wstring FormatSetupExitCode(uint32_t exit_code);

// Collects one line; the destructor writes it. The constructor and destructor stay calls:
// there are some 250 lines to log, and each inlined copy would cost about 15 bytes more.
class LogLine {
 public:
  __attribute__((noinline)) LogLine(Severity severity, const char* function, int line);
  LogLine(const LogLine&) = delete;
  LogLine& operator=(const LogLine&) = delete;
  __attribute__((noinline)) ~LogLine();

  LogLine& operator<<(std::wstring_view text) {
    message_.append(text);
    return *this;
  }
  LogLine& operator<<(const wchar_t* text) { return *this << std::wstring_view(text ? text : L""); }
  LogLine& operator<<(const std::wstring& text) { return *this << std::wstring_view(text); }
  LogLine& operator<<(std::string_view text);
  LogLine& operator<<(const char* text) { return *this << std::string_view(text ? text : ""); }
  LogLine& operator<<(const std::string& text) { return *this << std::string_view(text); }
  LogLine& operator<<(char c) { return *this << std::string_view(&c, 1); }
  LogLine& operator<<(bool value) { return *this << (value ? L"1" : L"0"); }
  LogLine& operator<<(int value) { return AppendSigned(value); }
  LogLine& operator<<(long value) { return AppendSigned(value); }
  LogLine& operator<<(long long value) { return AppendSigned(value); }
  LogLine& operator<<(unsigned value) { return AppendUnsigned(value); }
  LogLine& operator<<(unsigned long value) { return AppendUnsigned(value); }
  LogLine& operator<<(unsigned long long value) { return AppendUnsigned(value); }

 private:
  LogLine& AppendSigned(long long value);
  LogLine& AppendUnsigned(unsigned long long value);

  Severity severity_;
  const char* function_;
  int line_;
  std::wstring message_;
};

// A line of one fixed text, or of a text followed by one value (a path, a URL, a number),
// in one call: the same line as `LOG_AT(severity, function, line) << text [<< value]`,
// without a line to build and destroy at each of the many places that write one.
void LogText(Severity severity, const char* function, int line, const char* text);
template <typename Value>
__attribute__((noinline)) void LogWithValue(Severity severity, const char* function, int line,
                                            const char* text, const Value& value) {
  LogLine(severity, function, line) << text << value;
}

// Test-only: forgets the path, the rights and the counts so that another test can
// initialise the logger again.
void ResetLoggingForTesting();
// Test-only: the next initialisation takes the process for one with (or without) more rights
// than its folder's user, and for SYSTEM or not, whatever its token says.
void SetRightsForTesting(bool more_rights, bool system);
// Test-only: how many waits for the mutex ran out.
uint32_t MutexTimeoutsForTesting();

}  // namespace logging

#define LOG(severity, function) ::logging::LogLine(::logging::k##severity, function, __LINE__)
#define LOG_AT(severity, function, line) ::logging::LogLine(::logging::k##severity, function, line)

#endif  // PLATFORM_LOGGING_H_

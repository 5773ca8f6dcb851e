// The shared installer log.
//
// Every installer process (master, private-folder copy, elevated child, interface-check
// child) appends UTF-16LE lines to one file in the user's temporary folder. Each line is
// written under a global named mutex, with the file opened and closed around it, so lines
// from several processes never interleave and every line is on disk as soon as it returns.
// The file starts with a byte-order mark and is rotated to "<path>.old" at 1 MiB by the
// processes that run with the rights of the user whose folder holds it. An elevated process
// (the elevated child, or a master the user ran as administrator) works with administrator
// rights in that same folder, where the user's other processes may have put links: it only
// appends to the log (see `LogAccess::kAppendOnly`).
//
// Logging never fails its caller: before `InitLogging`, without the mutex, when the mutex
// stays busy for a second, or when the file cannot be opened, the line is dropped.
//
// Use the stream macros:
//   LOG(INFO, "GetInfo") << "Brand package path: " << path;       // source line number
//   LOG_AT(INFO, "wWinMain", 131) << "...";                        // a fixed line number
// Severities: INFO (0), ERROR (1, adds the text of the thread's last Windows error),
// WARNING (2). Narrow text is widened as outside text is (`platform::WidenUtf8`: UTF-8 when it
// is valid UTF-8, else byte by byte). Control characters in a message are written escaped
// ("\x0D"), so no message can break its line or forge another.
#ifndef STARTUP_LOGGING_H_
#define STARTUP_LOGGING_H_

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

// What a process may do to the log file.
enum class LogAccess {
  // Create it when missing and rotate it at kMaxLogSize.
  kOwner,
  // Append to it only while it is an ordinary file on a local disk: never create, rotate
  // (delete or move) or truncate it; open it without following a reparse point and without
  // letting a named pipe's server act as this process; drop the line when the path is not
  // a drive-letter path of a local drive, or the file is no disk file, a folder, a reparse
  // point (a link of any kind) or has more than one name (a hard link). A junction further
  // up the path can then lead the line only into another existing, ordinary file of the
  // log's name. A missing log stays missing: such a process logs nothing.
  kAppendOnly,
};

// Sets the log path and the access; only the first call has an effect.
void InitLogging(const std::wstring& path, LogAccess access = LogAccess::kOwner);

// Whether `kAppendOnly` may write to a file with these attributes (GetFileAttributesW's)
// and this number of names.
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

// Collects one line; the destructor writes it.
class LogLine {
 public:
  LogLine(Severity severity, const char* function, int line)
      : severity_(severity), function_(function), line_(line) {}
  LogLine(const LogLine&) = delete;
  LogLine& operator=(const LogLine&) = delete;
  ~LogLine() { LogMessage(severity_, function_, line_, message_); }

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

// Test-only: forgets the path so that another test can initialise the logger again.
void ResetLoggingForTesting();

}  // namespace logging

#define LOG(severity, function) ::logging::LogLine(::logging::k##severity, function, __LINE__)
#define LOG_AT(severity, function, line) ::logging::LogLine(::logging::k##severity, function, line)

#endif  // STARTUP_LOGGING_H_

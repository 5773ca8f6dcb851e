// Stand-in for the browser setup program, for tests of the install flow.
//
// Run as a setup (the normal case) it:
//   1. reads its command line and every file named by the file switches;
//   2. sleeps LI_STAND_IN_DELAY_MS milliseconds (default 0), like a setup at work;
//   3. when `progress-window` names a window (non-zero), posts the registered progress
//      messages to it: "zorvin.lite.set_install_progress" with 5, then 7, then
//      "zorvin.lite.set_import_progress" with 0, 10, ..., 100; LI_STAND_IN_EXTRA_MESSAGE may
//      add "close_window" or "higher_version_exist" (the messages of those names) at the end;
//      then it sleeps LI_STAND_IN_AFTER_MS milliseconds (default 0), a setup still finishing;
//   4. unless LI_STAND_IN_WINDOW_MS is 0, starts a copy of itself (from the temporary folder)
//      in "browser" mode that keeps a message-only window of class
//      "ZorvinBrowser_MessageWindow" for that many milliseconds (default 1000), and waits until
//      the window exists; the copy outlives this process, as the installed browser would;
//   5. writes a JSON report of all this to the path in LI_STAND_IN_REPORT (if set), through a
//      temporary file so that a reader never sees half a report;
//   6. exits with LI_STAND_IN_EXIT_CODE (decimal or 0x-hex, default 0).
// See README.md beside this file for the report's members.
#include <windows.h>
#include <shellapi.h>

#include <jansson.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/base64.h"
#include "platform/strings.h"

namespace {

constexpr wchar_t kMessageWindowClass[] = L"ZorvinBrowser_MessageWindow";
// Switch of the "browser" copy: how long to keep the window, and the event set once it exists.
constexpr char kBrowserModeSwitch[] = "stand-in-message-window";
constexpr char kReadyEventSwitch[] = "stand-in-ready-event";

const char* const kFileSwitches[] = {
    "brand-package", "partner-package", "installerdata", "clids-file", "clids-searchband-file",
    "distr-info-file", "variations-update-path", "server-config-bundle-path",
};

struct JsonDeleter {
  void operator()(json_t* json) const { json_decref(json); }
};
using ScopedJson = std::unique_ptr<json_t, JsonDeleter>;

std::string Utf8(const std::wstring& text) {
  std::string out;
  if (!platform::WideToUtf8(text, &out)) out = platform::Narrow(text);
  return out;
}

json_t* JsonText(const std::wstring& text) {
  std::string utf8 = Utf8(text);
  return json_stringn(utf8.data(), utf8.size());
}

std::wstring Env(const wchar_t* name) {
  wchar_t buffer[4096];
  DWORD size = GetEnvironmentVariableW(name, buffer, ARRAYSIZE(buffer));
  if (size == 0 || size >= ARRAYSIZE(buffer)) return std::wstring();
  return std::wstring(buffer, size);
}

// Decimal or "0x" hexadecimal; `fallback` when absent or not a number.
uint64_t EnvNumber(const wchar_t* name, uint64_t fallback) {
  std::wstring text = Env(name);
  if (text.empty()) return fallback;
  uint64_t value = 0;
  if (text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) {
    for (size_t i = 2; i < text.size(); ++i) {
      wchar_t c = text[i];
      unsigned digit = c >= L'0' && c <= L'9'   ? c - L'0'
                       : c >= L'a' && c <= L'f' ? c - L'a' + 10
                       : c >= L'A' && c <= L'F' ? c - L'A' + 10
                                                : 16;
      if (digit == 16) return fallback;
      value = value * 16 + digit;
    }
    return value;
  }
  return platform::StringToUint64(std::wstring_view(text), &value) ? value : fallback;
}

// Switches as the installer writes them: --name=value (also -name and /name), names lowered.
std::map<std::string, std::wstring> ParseSwitches(const std::vector<std::wstring>& args) {
  std::map<std::string, std::wstring> switches;
  for (size_t i = 1; i < args.size(); ++i) {
    std::wstring_view arg = args[i];
    size_t prefix = arg.rfind(L"--", 0) == 0 ? 2 : (!arg.empty() && (arg[0] == L'-' || arg[0] == L'/')) ? 1 : 0;
    if (prefix == 0) continue;
    arg.remove_prefix(prefix);
    size_t equals = arg.find(L'=');
    std::string name = platform::ToLowerAscii(platform::Narrow(arg.substr(0, equals)));
    switches[name] = equals == std::wstring_view::npos ? std::wstring() : std::wstring(arg.substr(equals + 1));
  }
  return switches;
}

std::vector<std::wstring> Arguments() {
  std::vector<std::wstring> args;
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!argv) return args;
  for (int i = 0; i < count; ++i) args.emplace_back(argv[i]);
  LocalFree(argv);
  return args;
}

bool ReadWholeFile(const std::wstring& path, std::string* bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bytes->clear();
  char buffer[65536];
  DWORD read = 0;
  bool ok = true;
  while ((ok = ReadFile(file, buffer, sizeof(buffer), &read, nullptr)) && read > 0) bytes->append(buffer, read);
  CloseHandle(file);
  return ok;
}

json_t* DescribeFile(const std::wstring& path) {
  json_t* entry = json_object();
  json_object_set_new(entry, "path", JsonText(path));
  std::string bytes;
  if (path.empty() || !ReadWholeFile(path, &bytes)) {
    json_object_set_new(entry, "exists", json_false());
    return entry;
  }
  json_object_set_new(entry, "exists", json_true());
  json_object_set_new(entry, "size", json_integer(static_cast<json_int_t>(bytes.size())));
  json_object_set_new(entry, "base64", json_string(platform::Base64Encode(bytes).c_str()));
  if (platform::IsValidUtf8(bytes)) json_object_set_new(entry, "text", json_stringn(bytes.data(), bytes.size()));
  return entry;
}

json_t* Post(HWND window, const wchar_t* name, WPARAM wparam) {
  UINT message = RegisterWindowMessageW(name);
  BOOL posted = message != 0 && PostMessageW(window, message, wparam, 0);
  json_t* entry = json_object();
  json_object_set_new(entry, "name", JsonText(name));
  json_object_set_new(entry, "wparam", json_integer(static_cast<json_int_t>(wparam)));
  json_object_set_new(entry, "posted", json_boolean(posted));
  return entry;
}

LRESULT CALLBACK BrowserWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_TIMER) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

// The "browser": keeps the message-only window for `milliseconds`.
int RunBrowser(uint64_t milliseconds, const std::wstring& ready_event) {
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = BrowserWindowProc;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = kMessageWindowClass;
  if (!RegisterClassW(&window_class)) return 3;
  HWND window = CreateWindowExW(0, kMessageWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                window_class.hInstance, nullptr);
  if (!window) return 4;
  if (!ready_event.empty()) {
    HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, ready_event.c_str());
    if (event) {
      SetEvent(event);
      CloseHandle(event);
    }
  }
  SetTimer(window, 1, static_cast<UINT>(milliseconds), nullptr);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  DestroyWindow(window);
  return 0;
}

// Earlier browser copies that have ended; copies still running refuse deletion and stay.
void DeleteStaleBrowserCopies(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((folder + L"li_stand_in_browser_*.exe").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    DeleteFileW((folder + found.cFileName).c_str());
  } while (FindNextFileW(find, &found));
  FindClose(find);
}

// Starts the "browser" and waits (up to 10 s) until its window exists. The browser runs from
// a copy of this file in the temporary folder, so that the installer can delete the archive
// it ran as soon as this process has ended.
json_t* StartBrowser(uint64_t milliseconds) {
  json_t* entry = json_object();
  json_object_set_new(entry, "milliseconds", json_integer(static_cast<json_int_t>(milliseconds)));
  wchar_t module[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, module, MAX_PATH);
  wchar_t temp[MAX_PATH];
  DWORD temp_length = GetTempPathW(MAX_PATH, temp);
  bool started = false;
  bool shown = false;
  if (length > 0 && length < MAX_PATH && temp_length > 0 && temp_length < MAX_PATH) {
    const std::wstring folder(temp, temp_length);
    DeleteStaleBrowserCopies(folder);
    const std::wstring unique = platform::ToWString(GetCurrentProcessId()) + L"_" +
                                platform::ToWString(static_cast<unsigned long long>(GetTickCount64()));
    const std::wstring copy = folder + L"li_stand_in_browser_" + unique + L".exe";
    const std::wstring event_name = L"li_stand_in_ready_" + unique;
    json_object_set_new(entry, "browser_path", JsonText(copy));
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, event_name.c_str());
    std::wstring command = L"\"" + copy + L"\" --" + platform::Widen(kBrowserModeSwitch) + L"=" +
                           platform::ToWString(static_cast<unsigned long long>(milliseconds)) + L" --" +
                           platform::Widen(kReadyEventSwitch) + L"=" + event_name;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    started = ready && CopyFileW(module, copy.c_str(), FALSE) &&
              CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &process);
    if (started) {
      json_object_set_new(entry, "process_id", json_integer(process.dwProcessId));
      HANDLE waits[] = {ready, process.hProcess};
      shown = WaitForMultipleObjects(2, waits, FALSE, 10000) == WAIT_OBJECT_0;
      CloseHandle(process.hThread);
      CloseHandle(process.hProcess);
    }
    if (ready) CloseHandle(ready);
  }
  json_object_set_new(entry, "started", json_boolean(started));
  json_object_set_new(entry, "shown", json_boolean(shown));
  return entry;
}

void WriteReport(const std::wstring& path, json_t* report) {
  char* text = json_dumps(report, JSON_INDENT(2) | JSON_SORT_KEYS);
  if (!text) return;
  std::wstring temporary = path + L".partial";
  HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    std::string bytes(text);
    bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
              written == bytes.size();
    CloseHandle(file);
    if (ok) MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
    else DeleteFileW(temporary.c_str());
  }
  free(text);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const std::vector<std::wstring> args = Arguments();
  const std::map<std::string, std::wstring> switches = ParseSwitches(args);

  auto browser = switches.find(kBrowserModeSwitch);
  if (browser != switches.end()) {
    uint64_t milliseconds = 0;
    platform::StringToUint64(std::wstring_view(browser->second), &milliseconds);
    auto event = switches.find(kReadyEventSwitch);
    return RunBrowser(milliseconds, event == switches.end() ? std::wstring() : event->second);
  }

  ScopedJson report(json_object());
  json_object_set_new(report.get(), "command_line", JsonText(GetCommandLineW()));
  json_t* arguments = json_array();
  for (const std::wstring& arg : args) json_array_append_new(arguments, JsonText(arg));
  json_object_set_new(report.get(), "arguments", arguments);
  json_t* switch_values = json_object();
  for (const auto& [name, value] : switches) json_object_set_new(switch_values, name.c_str(), JsonText(value));
  json_object_set_new(report.get(), "switches", switch_values);
  json_object_set_new(report.get(), "process_id", json_integer(GetCurrentProcessId()));
  wchar_t temp[MAX_PATH];
  const DWORD temp_length = GetTempPathW(MAX_PATH, temp);
  json_object_set_new(report.get(), "temp",
                      JsonText(temp_length < MAX_PATH ? std::wstring(temp, temp_length) : L""));

  // Read the files first: the installer may delete them as soon as this process ends.
  json_t* files = json_object();
  for (const char* name : kFileSwitches) {
    auto found = switches.find(name);
    if (found != switches.end()) json_object_set_new(files, name, DescribeFile(found->second));
  }
  json_object_set_new(report.get(), "files", files);

  const uint64_t delay = EnvNumber(L"LI_STAND_IN_DELAY_MS", 0);
  if (delay) Sleep(static_cast<DWORD>(delay));

  json_t* messages = json_array();
  uint64_t window_value = 0;
  auto progress = switches.find("progress-window");
  if (progress != switches.end()) platform::StringToUint64(std::wstring_view(progress->second), &window_value);
  if (window_value != 0) {
    HWND window = reinterpret_cast<HWND>(static_cast<uintptr_t>(window_value));
    json_array_append_new(messages, Post(window, L"zorvin.lite.set_install_progress", 5));
    json_array_append_new(messages, Post(window, L"zorvin.lite.set_install_progress", 7));
    for (WPARAM percent = 0; percent <= 100; percent += 10)
      json_array_append_new(messages, Post(window, L"zorvin.lite.set_import_progress", percent));
    std::wstring extra = Env(L"LI_STAND_IN_EXTRA_MESSAGE");
    if (extra == L"close_window")
      json_array_append_new(messages, Post(window, L"zorvin.lite.close_window", 0));
    else if (extra == L"higher_version_exist")
      json_array_append_new(messages, Post(window, L"zorvin.higher_version_exist", 0));
  }
  json_object_set_new(report.get(), "messages", messages);
  const uint64_t after = EnvNumber(L"LI_STAND_IN_AFTER_MS", 0);
  if (after) Sleep(static_cast<DWORD>(after));

  const uint64_t window_ms = EnvNumber(L"LI_STAND_IN_WINDOW_MS", 1000);
  if (window_ms) json_object_set_new(report.get(), "message_window", StartBrowser(window_ms));
  else json_object_set_new(report.get(), "message_window", json_null());

  const uint64_t exit_code = EnvNumber(L"LI_STAND_IN_EXIT_CODE", 0);
  json_object_set_new(report.get(), "exit_code", json_integer(static_cast<json_int_t>(static_cast<uint32_t>(exit_code))));

  std::wstring report_path = Env(L"LI_STAND_IN_REPORT");
  if (!report_path.empty()) WriteReport(report_path, report.get());
  return static_cast<int>(static_cast<uint32_t>(exit_code));
}

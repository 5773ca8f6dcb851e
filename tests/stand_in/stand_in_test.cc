// What the stand-in browser setup program does when the installer runs it: the tests of the
// install flow rely on its report, its messages, its message-only window and its exit code.
#include <windows.h>

#include <gtest/gtest.h>
#include <jansson.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/base64.h"
#include "platform/strings.h"
#include "tests/support/test_paths.h"

namespace {

using test_support::BuildFile;
using test_support::ReadFileBytes;
using test_support::ScopedTempDir;
using test_support::WriteFileBytes;

constexpr wchar_t kBrowserWindowClass[] = L"ZorvinBrowser_MessageWindow";

struct JsonDeleter {
  void operator()(json_t* json) const { json_decref(json); }
};
using ScopedJson = std::unique_ptr<json_t, JsonDeleter>;

std::string Utf8(const std::wstring& text) {
  std::string out;
  platform::WideToUtf8(text, &out);
  return out;
}

std::string StringAt(json_t* object, const char* key) {
  json_t* value = json_object_get(object, key);
  return json_is_string(value) ? std::string(json_string_value(value), json_string_length(value))
                               : std::string("<missing>");
}

// A message-only window that collects the registered messages posted to it.
class MessageSink {
 public:
  MessageSink() {
    WNDCLASSW window_class = {};
    window_class.lpfnWndProc = DefWindowProcW;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"li_stand_in_test_sink";
    RegisterClassW(&window_class);
    window_ = CreateWindowExW(0, window_class.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                              nullptr, window_class.hInstance, nullptr);
  }
  ~MessageSink() { DestroyWindow(window_); }
  HWND window() const { return window_; }

  // Every message (id, wParam) waiting for the window.
  std::vector<std::pair<UINT, WPARAM>> Drain() {
    std::vector<std::pair<UINT, WPARAM>> messages;
    MSG msg;
    while (PeekMessageW(&msg, window_, 0, 0, PM_REMOVE)) messages.emplace_back(msg.message, msg.wParam);
    return messages;
  }

 private:
  HWND window_ = nullptr;
};

// Runs `program` with `arguments` and the given environment additions; returns the exit code.
DWORD RunStandIn(const std::wstring& program, const std::wstring& arguments,
          const std::vector<std::pair<std::wstring, std::wstring>>& environment) {
  for (const auto& [name, value] : environment) SetEnvironmentVariableW(name.c_str(), value.c_str());
  std::wstring command = L"\"" + program + L"\" " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  DWORD code = 0xDEAD;
  if (CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                     nullptr, &startup, &process)) {
    WaitForSingleObject(process.hProcess, 60000);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  for (const auto& [name, value] : environment) SetEnvironmentVariableW(name.c_str(), nullptr);
  return code;
}

// Whether process `pid` has a message-only window of the browser's class (other tests may
// run browsers of their own at the same time).
bool BrowserWindowExists(DWORD pid) {
  HWND window = nullptr;
  while ((window = FindWindowExW(HWND_MESSAGE, window, kBrowserWindowClass, nullptr))) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == pid) return true;
  }
  return false;
}

bool WaitForBrowserWindowToClose(DWORD pid, DWORD milliseconds) {
  for (DWORD waited = 0; waited < milliseconds; waited += 100) {
    if (!BrowserWindowExists(pid)) return true;
    Sleep(100);
  }
  return !BrowserWindowExists(pid);
}

TEST(StandInTest, ReportsWhatItReceivedAndPostsProgress) {
  ScopedTempDir dir;
  // Run from a copy, as the installer runs its downloaded archive.
  const std::wstring archive = dir.File(L"setup.exe");
  ASSERT_TRUE(CopyFileW(BuildFile(L"stand_in\\good.exe").c_str(), archive.c_str(), FALSE));
  const std::wstring brand = dir.File(L"BrandFile");
  const std::string brand_bytes("MSCF\0\x01\xFF", 7);
  ASSERT_TRUE(WriteFileBytes(brand, brand_bytes));
  const std::wstring info = dir.File(L"distrib_info");
  ASSERT_TRUE(WriteFileBytes(info, "{\"partner_id\":\"p1\"}"));
  const std::wstring missing = dir.File(L"missing seed");
  const std::wstring report_path = dir.File(L"report.json");

  MessageSink sink;
  ASSERT_NE(nullptr, sink.window());
  const std::wstring window_value =
      platform::ToWString(static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(sink.window())));
  const std::wstring arguments = L"--brand-package=\"" + brand + L"\" --distr-info-file=\"" + info +
                                 L"\" --variations-update-path=\"" + missing +
                                 L"\" --progress-window=" + window_value +
                                 L" --verbose-logging --source=lite";
  const DWORD code = RunStandIn(archive, arguments,
                         {{L"LI_STAND_IN_REPORT", report_path},
                          {L"LI_STAND_IN_EXIT_CODE", L"0x03000005"},
                          {L"LI_STAND_IN_WINDOW_MS", L"1500"}});
  EXPECT_EQ(0x03000005u, code);

  const std::string text = ReadFileBytes(report_path);
  json_error_t error;
  ScopedJson report(json_loadb(text.data(), text.size(), 0, &error));
  ASSERT_TRUE(report) << text;

  // The browser's window outlives the setup, and the setup's own file is free again.
  json_t* browser = json_object_get(report.get(), "message_window");
  EXPECT_TRUE(json_is_true(json_object_get(browser, "shown")));
  const DWORD browser_pid =
      static_cast<DWORD>(json_integer_value(json_object_get(browser, "process_id")));
  EXPECT_TRUE(BrowserWindowExists(browser_pid));
  EXPECT_TRUE(DeleteFileW(archive.c_str())) << GetLastError();
  EXPECT_TRUE(WaitForBrowserWindowToClose(browser_pid, 15000));
  EXPECT_NE(std::string::npos, StringAt(report.get(), "command_line").find("--source=lite"));
  json_t* switches = json_object_get(report.get(), "switches");
  EXPECT_EQ("lite", StringAt(switches, "source"));
  EXPECT_EQ("", StringAt(switches, "verbose-logging"));
  EXPECT_EQ(Utf8(window_value), StringAt(switches, "progress-window"));
  EXPECT_EQ(0x03000005, json_integer_value(json_object_get(report.get(), "exit_code")));

  json_t* files = json_object_get(report.get(), "files");
  json_t* brand_entry = json_object_get(files, "brand-package");
  EXPECT_EQ(Utf8(brand), StringAt(brand_entry, "path"));
  EXPECT_TRUE(json_is_true(json_object_get(brand_entry, "exists")));
  EXPECT_EQ(7, json_integer_value(json_object_get(brand_entry, "size")));
  EXPECT_EQ(platform::Base64Encode(brand_bytes), StringAt(brand_entry, "base64"));
  EXPECT_EQ(nullptr, json_object_get(brand_entry, "text"));  // not UTF-8
  json_t* info_entry = json_object_get(files, "distr-info-file");
  EXPECT_EQ("{\"partner_id\":\"p1\"}", StringAt(info_entry, "text"));
  json_t* missing_entry = json_object_get(files, "variations-update-path");
  EXPECT_TRUE(json_is_false(json_object_get(missing_entry, "exists")));
  EXPECT_EQ(nullptr, json_object_get(files, "partner-package"));  // switch not given

  const UINT install = RegisterWindowMessageW(L"zorvin.lite.set_install_progress");
  const UINT import = RegisterWindowMessageW(L"zorvin.lite.set_import_progress");
  std::vector<std::pair<UINT, WPARAM>> expected = {{install, 5}, {install, 7}};
  for (WPARAM p = 0; p <= 100; p += 10) expected.emplace_back(import, p);
  EXPECT_EQ(expected, sink.Drain());
}

TEST(StandInTest, QuietRunWithoutWindowOrMessages) {
  ScopedTempDir dir;
  MessageSink sink;
  const std::wstring report_path = dir.File(L"report.json");
  const DWORD code = RunStandIn(BuildFile(L"stand_in\\unsigned.exe"), L"--progress-window=0",
                                {{L"LI_STAND_IN_WINDOW_MS", L"0"}, {L"LI_STAND_IN_REPORT", report_path}});
  EXPECT_EQ(0u, code);
  EXPECT_TRUE(sink.Drain().empty());
  const std::string text = ReadFileBytes(report_path);
  json_error_t error;
  ScopedJson report(json_loadb(text.data(), text.size(), 0, &error));
  ASSERT_TRUE(report) << text;
  EXPECT_TRUE(json_is_null(json_object_get(report.get(), "message_window")));
  EXPECT_EQ(0u, json_array_size(json_object_get(report.get(), "messages")));
  EXPECT_EQ(0u, json_object_size(json_object_get(report.get(), "files")));
}

TEST(StandInTest, ExitCodeInDecimalOrHex) {
  const struct {
    const wchar_t* text;
    DWORD code;
  } kCases[] = {{L"7", 7}, {L"0x7", 7}, {L"4294967295", 0xFFFFFFFF}, {L"", 0}, {L"seven", 0}};
  for (const auto& c : kCases) {
    EXPECT_EQ(c.code, RunStandIn(BuildFile(L"stand_in\\good.exe"), L"",
                                 {{L"LI_STAND_IN_WINDOW_MS", L"0"}, {L"LI_STAND_IN_EXIT_CODE", c.text}}))
        << c.text;
  }
}

TEST(StandInTest, ExtraMessagesOnRequest) {
  const struct {
    const wchar_t* extra;
    const wchar_t* message;
  } kCases[] = {{L"close_window", L"zorvin.lite.close_window"},
                {L"higher_version_exist", L"zorvin.higher_version_exist"}};
  for (const auto& c : kCases) {
    MessageSink sink;
    const std::wstring window_value = platform::ToWString(
        static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(sink.window())));
    EXPECT_EQ(0u, RunStandIn(BuildFile(L"stand_in\\good.exe"), L"--progress-window=" + window_value,
                      {{L"LI_STAND_IN_WINDOW_MS", L"0"}, {L"LI_STAND_IN_EXTRA_MESSAGE", c.extra}}));
    auto messages = sink.Drain();
    ASSERT_EQ(14u, messages.size()) << c.extra;
    EXPECT_EQ(RegisterWindowMessageW(c.message), messages.back().first) << c.extra;
  }
}

}  // namespace

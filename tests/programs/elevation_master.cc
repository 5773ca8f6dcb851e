// Both sides of an elevated installation, for the tests that run one end to end. The shared
// section that carries the child's run report belongs to one image file, so the master and
// the child it restarts through the shell must be the same executable: this one.
//
//   elevation_master.exe --run-as-admin ...   the elevated child: the installer's own entry
//   elevation_master.exe [options]            the master: a BrandInfo, an Installer,
//                                             ExecuteAsAdmin and the install flow
// Master options:
//   --setup-url=URL         the archive URL (the fake publisher's /f/ path picks the variant)
//   --marker=TEXT           "zorvinuid" of the run, which every statistics request carries
//   --registry-key=PATH     the browser's per-user key for this run (under HKCU)
//   --brand-cab=PATH, --partner-cab=PATH   the brand (319) and partner (320) packages
//   --choose-before=LIST, --choose-after=LIST   the user's choices before and after the
//                           elevated restart: "make-default", "send-statistics" or both
//                           (comma-separated); an "after" list replaces the "before" one
//   --no-elevation          no ExecuteAsAdmin
//   --flow=sync             RunSync (the default)
//   --flow=thread           Start and AllowInstall; ends when the flow finishes or fails
//   --no-consent            (thread) never AllowInstall
//   --stop-at=POINT         (thread) Stop as soon as the shared log shows that the flow
//                           reached POINT: "archive-ready" (downloaded), "released" (the
//                           master released the elevated child) or "setup-started" (the
//                           elevated child created the setup process)
//   --stop-wait-ms=N        (thread) how long the Stop waits for the flow before the exit
//                           waits for it without end (the product's minute by default)
//   --child-fails           spoil the block's archive path just before the release, so that
//                           the elevated child runs no setup
//   --hold                  stay after ExecuteAsAdmin, never releasing the child (until
//                           killed)
//   --window                a progress window with a cancel button (id 1009); the messages
//                           it received are reported, and "zorvin.lite.close_window" stops
//                           the flow as the installer window does
//   --result=PATH           where the facts go (below)
//   --steal-go              a thread of the master takes the run's go before the child
//                           waits for it ("go_taken=<wait result>")
//   --record-child-files    the elevated child reports each of its file operations
//                           ("child_file=<kind> <path>", kind: folder, read, write, delete,
//                           reboot)
//
// Facts are appended to the result file as UTF-8 "key=value" lines: execute_as_admin,
// shell_error (GetLastError after a failed start), inst_app, child_pid, stop_ms (how long
// StopAndWait took), release_after_stop_ms (from the Stop call to the return of the wait for the
// child), result_code, run_id, child_exit_code (after the Installer is gone), posted (one
// line per message the window received: "<name> <wparam>"), cancel_button_visible. Both
// processes add their token: "<side>_elevated", "<side>_elevation_type",
// "<side>_admin_group" and "<side>_pid", where side is "master" or "elevated".
// The exit code is the Installer's result code; 3 when the options are unusable.
#include <windows.h>
#include <shellapi.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "brand/brand_info.h"
#include "brand/brand_packages.h"
#include "brand/distrib_info_params.h"
#include "brand/registry_values.h"
#include "entry/entry.h"
#include "install/elevated_child.h"
#include "install/elevated_process.h"
#include "install/elevation.h"
#include "install/installer.h"
#include "install/progress_listener.h"
#include "platform/command_line.h"
#include "platform/file_util.h"
#include "platform/logging.h"
#include "platform/shared_sections.h"
#include "platform/strings.h"
#include "platform/user_rights.h"
#include "ui/main_window.h"

namespace {

using installer::CommandLine;

std::wstring g_result_path;

void Fact(const std::string& key, const std::wstring& value) {
  if (g_result_path.empty()) return;
  std::string line = key + "=" + platform::Narrow(value) + "\n";
  HANDLE file = CreateFileW(g_result_path.c_str(), FILE_APPEND_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
}

void Fact(const std::string& key, long long value) { Fact(key, platform::ToWString(value)); }

// What the token of this process says about elevation.
void TokenFacts(const std::string& side) {
  Fact(side + "_pid", static_cast<long long>(GetCurrentProcessId()));
  Fact(side + "_admin_group", installer::IsUserAnAdminGroup(GetCurrentProcess()) ? 1 : 0);
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  if (GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size)) {
    Fact(side + "_elevated", elevation.TokenIsElevated ? 1 : 0);
  }
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  if (GetTokenInformation(token, TokenElevationType, &type, sizeof(type), &size)) {
    Fact(side + "_elevation_type", static_cast<long long>(type));
  }
  CloseHandle(token);
}

// The elevated child's file operations, reported as they happen.
class ReportingFileSystem : public installer::ChildFileSystem {
 public:
  bool CreateFolder(const std::wstring& path, SECURITY_ATTRIBUTES* attributes) override {
    Fact("child_file", L"folder " + path);
    return ChildFileSystem::CreateFolder(path, attributes);
  }
  HANDLE Open(const std::wstring& path, DWORD access, DWORD share, DWORD disposition,
              DWORD flags) override {
    const bool writes = access & (GENERIC_WRITE | FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE);
    Fact("child_file", (writes ? L"write " : L"read ") + path);
    return ChildFileSystem::Open(path, access, share, disposition, flags);
  }
  bool DeleteThrough(HANDLE file, const std::wstring& path) override {
    Fact("child_file", L"delete " + path);
    return ChildFileSystem::DeleteThrough(file, path);
  }
  bool DeleteAtReboot(const std::wstring& path) override {
    Fact("child_file", L"reboot " + path);
    return ChildFileSystem::DeleteAtReboot(path);
  }
};

// Packages from files, for a BrandInfo that loads a brand and a partner package the way the
// installer's own resources would give them.
class FilePackages : public installer::BrandEnvironment {
 public:
  FilePackages(std::wstring brand, std::wstring partner)
      : brand_(std::move(brand)), partner_(std::move(partner)) {}
  bool LoadPackage(int id, std::string* bytes) const override {
    const std::wstring& path = id == 319 ? brand_ : id == 320 ? partner_ : empty_;
    return !path.empty() && Read(path, bytes);
  }
  bool LoadPackage(const std::wstring& name, std::string* bytes) const override { return false; }
  std::string UserRegion() const override { return ""; }
  std::string UserUiLanguage() const override { return "en"; }
  void RemoveSavedValue(std::string_view name) const override {
    installer::RemoveValueFromRegistry(name);
  }

 private:
  static bool Read(const std::wstring& path, std::string* bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::string data;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
      data.append(buffer, read);
    }
    CloseHandle(file);
    *bytes = std::move(data);
    return true;
  }

  std::wstring brand_;
  std::wstring partner_;
  std::wstring empty_;
};

// The window's side of the flow: its end, and the window the child and the setup post to.
class Listener : public installer::ProgressListener {
 public:
  explicit Listener(HWND window)
      : window_(window), done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~Listener() override { CloseHandle(done_); }
  void SetDownloadFraction(float fraction) override {}
  void OnLongDownload() override {}
  void SetRemainingTime(uint32_t seconds, int32_t kind) override {}
  void Finish() override { SetEvent(done_); }
  void ShowError(int32_t result_code) override {
    Fact("shown_error", result_code);
    SetEvent(done_);
  }
  HWND WindowHandle() override { return window_; }
  void SetPercent(int32_t percent) override { Fact("master_percent", percent); }
  void RemoveCancelButton() override {}
  HANDLE done() const { return done_; }

 private:
  HWND window_;
  HANDLE done_;
};

// Sees the shell start and the end of the wait for the child, which the product keeps to
// itself.
class MasterInstaller : public installer::Installer {
 public:
  using Installer::Installer;
  ~MasterInstaller() override {
    if (thief_.joinable()) thief_.join();
    CloseHandle(child_);
  }

  bool StartElevated(SHELLEXECUTEINFOW* info) override {
    if (installer::ProcessCommandLine().Has("steal-go")) StealGo(info->lpParameters);
    SetLastError(0);
    bool ok = Installer::StartElevated(info);
    DWORD error = GetLastError();
    Fact("inst_app", static_cast<long long>(reinterpret_cast<INT_PTR>(info->hInstApp)));
    if (!ok) Fact("shell_error", static_cast<long long>(error));
    if (ok && info->hProcess != nullptr) {
      Fact("child_pid", static_cast<long long>(GetProcessId(info->hProcess)));
      DuplicateHandle(GetCurrentProcess(), info->hProcess, GetCurrentProcess(), &child_, 0,
                      FALSE, DUPLICATE_SAME_ACCESS);
    }
    return ok;
  }

  bool RunModuleInElevatedProcess() override {
    if (installer::ProcessCommandLine().Has("child-fails")) {
      installer::DelayedParams params = elevated_process()->ReadDelayedParams();
      params.browser_arc_path += L".missing";
      elevated_process()->WriteDelayedParams(params);
    }
    bool success = Installer::RunModuleInElevatedProcess();
    released_tick_ = GetTickCount();
    return success;
  }

  HANDLE child() const { return child_; }
  DWORD released_tick() const { return released_tick_; }

 private:
  // Waits for the run's go before the child exists, as another process of the user that
  // found the master's events would.
  void StealGo(const wchar_t* parameters) {
    const std::string run_id = CommandLine(std::wstring(L"x") + parameters).NarrowValue("elevated-run-id");
    HANDLE go = OpenEventA(SYNCHRONIZE, FALSE,
                           installer::ElevatedEventName(run_id, installer::ElevatedEvent::kGo).c_str());
    if (go == nullptr) return Fact("go_taken", L"unopened");
    thief_ = std::thread([go] {
      Fact("go_taken", static_cast<long long>(WaitForSingleObject(go, 240000)));
      CloseHandle(go);
    });
  }

  HANDLE child_ = nullptr;
  DWORD released_tick_ = 0;
  std::thread thief_;
};

struct Choices {
  bool make_default = false;
  bool send_statistics = false;
};

Choices ParseChoices(const std::wstring& list) {
  Choices choices;
  choices.make_default = list.find(L"make-default") != std::wstring::npos;
  choices.send_statistics = list.find(L"send-statistics") != std::wstring::npos;
  return choices;
}

void Apply(const Choices& choices, installer::Installer* flow) {
  flow->set_make_default(choices.make_default);
  flow->set_send_statistics(choices.send_statistics);
}

bool LogHolds(const std::wstring& text) {
  HANDLE file = CreateFileW(logging::LogPath().c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::string bytes;
  char buffer[65536];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
    bytes.append(buffer, read);
  }
  CloseHandle(file);
  std::wstring log(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
  return log.find(text) != std::wstring::npos;
}

// Messages the window received: the child's proxy posts WM_APP+2 and WM_APP+3, the setup
// its registered messages. True when one of them was "zorvin.lite.close_window".
bool CollectPosted(HWND window) {
  if (window == nullptr) return false;
  bool close = false;
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.hwnd == window) {
      std::wstring name;
      if (message.message == WM_APP + 2) {
        name = L"set_percent";
      } else if (message.message == WM_APP + 3) {
        name = L"remaining_time";
      } else {
        for (const wchar_t* registered :
             {L"zorvin.lite.set_install_progress", L"zorvin.lite.set_import_progress",
              L"zorvin.lite.close_window"}) {
          if (message.message == RegisterWindowMessageW(registered)) name = registered;
        }
        close = close || name == L"zorvin.lite.close_window";
      }
      if (!name.empty()) {
        Fact("posted", name + L" " + platform::ToWString(static_cast<long long>(message.wParam)));
        continue;
      }
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return close;
}

int RunMaster(const CommandLine& command_line) {
  TokenFacts("master");
  platform::FilePath temp;
  if (!platform::TempFolder(&temp)) return 1;
  logging::InitLogging(temp.value() + L"\\lite_installer.log");
  if (command_line.Has("registry-key")) {
    installer::SetBrowserRegistryKeyPathForTesting(command_line.Value("registry-key"));
  }

  FilePackages packages(command_line.Value("brand-cab"), command_line.Value("partner-cab"));
  installer::BrandInfo brand(temp.value() + L"\\");
  brand.SetEnvironmentForTesting(&packages);
  brand.GetInfo(L"");
  brand.ApplyDefaults();
  brand.set_setup_url(command_line.NarrowValue("setup-url"));
  installer::DistribInfoParams params;
  params.SetParamsForTesting({{"zorvinuid", command_line.NarrowValue("marker")}});

  HWND window = nullptr;
  HWND cancel = nullptr;
  if (command_line.Has("window")) {
    window = CreateWindowExW(0, L"STATIC", L"progress", WS_POPUP, 0, 0, 200, 100, nullptr,
                             nullptr, nullptr, nullptr);
    cancel = CreateWindowExW(0, L"BUTTON", L"Cancel", WS_CHILD | WS_VISIBLE, 0, 0, 50, 20, window,
                             reinterpret_cast<HMENU>(1009), nullptr, nullptr);
    if (window == nullptr || cancel == nullptr) return 3;
  }
  const bool threaded = command_line.Value("flow") == L"thread";
  Listener listener(window);

  // Bytes a master keeps (where it keeps any) stay in its test's folder, beside its result.
  const std::wstring result = command_line.Value("result");
  if (!installer::KeptArchiveFolderForThisProcess().empty() && !result.empty()) {
    installer::SetKeptArchiveFolderForTesting(result.substr(0, result.find_last_of(L'\\')) +
                                              L"\\kept");
  }
  auto flow = std::make_unique<MasterInstaller>(
      installer::InstallerOptions{threaded ? &listener : nullptr, &brand, &params, false,
                                  command_line, &lite_installer::MakeElevationPromptOwner});
  flow->SetMessageWindowPollForTesting(10);
  Apply(ParseChoices(command_line.Value("choose-before")), flow.get());
  if (!command_line.Has("no-elevation")) {
    bool started = flow->ExecuteAsAdmin();
    Fact("execute_as_admin", started ? 1 : 0);
  }
  if (command_line.Has("hold")) Sleep(INFINITE);
  if (command_line.Has("choose-after")) {
    Apply(ParseChoices(command_line.Value("choose-after")), flow.get());
  }

  if (!threaded) {
    flow->RunSync();
  } else {
    if (!flow->Start()) return 3;
    if (!command_line.Has("no-consent")) flow->AllowInstall();
    // Every switch of this program reaches the setup command line and so the "Run: " line of
    // the log: the texts looked for must not be switch values.
    std::wstring stop_text;
    if (command_line.Value("stop-at") == L"archive-ready") stop_text = L"): Module downloaded: ";
    if (command_line.Value("stop-at") == L"released") stop_text = L"(805): Started waiting";
    if (command_line.Value("stop-at") == L"setup-started") stop_text = L"): Process created: ";
    HANDLE done = listener.done();
    const DWORD start = GetTickCount();
    bool stop = false;
    while (GetTickCount() - start < 180000) {
      if (MsgWaitForMultipleObjects(1, &done, FALSE, 50, QS_ALLINPUT) == WAIT_OBJECT_0) break;
      if (CollectPosted(window) || (!stop_text.empty() && LogHolds(stop_text))) {
        stop = true;
        break;
      }
    }
    uint64_t stop_wait_ms = 0;
    if (platform::StringToUint64(command_line.Value("stop-wait-ms"), &stop_wait_ms)) {
      flow->SetStopWaitForTesting(static_cast<uint32_t>(stop_wait_ms));
    }
    const DWORD stop_tick = GetTickCount();
    // As the installer's entry does once its window is gone.
    flow->StopAndWait();
    if (stop) {
      Fact("stop_ms", static_cast<long long>(GetTickCount() - stop_tick));
      if (flow->released_tick() != 0) {
        Fact("release_after_stop_ms",
             static_cast<long long>(static_cast<int32_t>(flow->released_tick() - stop_tick)));
      }
    }
    CollectPosted(window);
  }
  const int32_t result_code = flow->result_code();
  Fact("result_code", result_code);
  Fact("run_id", flow->run_id());
  Fact("archive_path", flow->archive_path());
  HANDLE child = nullptr;
  if (flow->child() != nullptr) {
    DuplicateHandle(GetCurrentProcess(), flow->child(), GetCurrentProcess(), &child, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
  }
  // The Installer takes the child's record with it: a child never released is told to stop
  // here, and one that does not end is terminated after the record's finish time-out.
  flow.reset();
  if (child != nullptr) {
    DWORD code = 0;
    if (WaitForSingleObject(child, 60000) == WAIT_OBJECT_0 && GetExitCodeProcess(child, &code)) {
      Fact("child_exit_code", static_cast<long long>(static_cast<int32_t>(code)));
    }
    CloseHandle(child);
  }
  if (cancel != nullptr) Fact("cancel_button_visible", IsWindowVisible(cancel) ? 1 : 0);
  if (window != nullptr) DestroyWindow(window);
  return result_code;
}

}  // namespace

int wmain() {
  const CommandLine& command_line = installer::ProcessCommandLine();
  g_result_path = command_line.Value("result");
  if (command_line.Has("run-as-admin")) {
    TokenFacts("elevated");
    ReportingFileSystem files;
    if (command_line.Has("record-child-files")) installer::SetChildFileSystemForTesting(&files);
    return installer::RunLiteInstaller();
  }
  return RunMaster(command_line);
}

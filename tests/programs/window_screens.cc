// Shows the installer window screen by screen so that tools/screenshots.sh can photograph
// the display: the offer screen, then (after the install button) the progress screen at a
// fixed percentage, and on request the first slide of a run that skipped the offer, or a
// message dialog.
//
//   window_screens.exe --dir=<folder> [--screens=offer,progress,skipped,error,disk]
//                      [--language=<interface language code>] [--force-device-scale-factor=<f>]
//
// For each screen it writes "<folder>\<screen>.ready" once the screen is painted, holding the
// window's screen rectangle ("left top right bottom"), and waits (up to a minute) for
// "<folder>\<screen>.done" before it moves on. Nothing is installed:
// the archive URL points at a closed port, so the download is still retrying (15 s pauses)
// while the pictures are taken, and the window never restarts itself elevated.
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "brand/brand_info.h"
#include "brand/distrib_info_params.h"
#include "brand/registry_values.h"
#include "platform/command_line.h"
#include "platform/strings.h"
#include "resources/resource_ids.h"
#include "ui/main_window.h"
#include "ui/message_dialog.h"
#include "ui/ui_environment.h"

namespace {

class ScreensWindow : public lite_installer::MainWindow {
 public:
  using MainWindow::MainWindow;

 protected:
  bool NeedsElevatedRestart() override { return false; }
  bool OpenUrl(const std::wstring&) override { return true; }
};

std::wstring g_dir;

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Tells the photographer that `screen` is up, and where, and waits until it has been taken.
void Pose(const std::wstring& screen, HWND hwnd) {
  Sleep(1500);  // let every control paint
  RECT rect = {};
  GetWindowRect(hwnd, &rect);
  std::string where = platform::ToString(rect.left) + " " + platform::ToString(rect.top) + " " +
                      platform::ToString(rect.right) + " " + platform::ToString(rect.bottom);
  // Written under another name first: the photographer reads the file as soon as it exists.
  std::wstring ready = g_dir + L"\\" + screen + L".ready";
  std::wstring partial = ready + L".partial";
  HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, where.data(), static_cast<DWORD>(where.size()), &written, nullptr);
    CloseHandle(file);
    MoveFileExW(partial.c_str(), ready.c_str(), MOVEFILE_REPLACE_EXISTING);
  }
  std::wstring done = g_dir + L"\\" + screen + L".done";
  for (int i = 0; i < 600 && !Exists(done); ++i) Sleep(100);
}

HWND WaitForWindow(lite_installer::MainWindow* window) {
  for (int i = 0; i < 300; ++i) {
    HWND hwnd = window->ListenerForTesting()->WindowHandle();
    if (hwnd != nullptr && IsWindowVisible(hwnd)) return hwnd;
    Sleep(100);
  }
  return nullptr;
}

std::string g_language = "en";

void Configure(installer::BrandInfo* brand) {
  brand->set_brand_id("zorvin");
  brand->set_brand_name("zorvin");
  brand->set_language(g_language);
  brand->set_setup_url("https://localhost:1/browser-setup.arc");
  brand->set_slide_url("https://localhost:1/slides/");
  brand->ApplyDefaults();
}

void RunWindow(const std::wstring& temp, bool skip_offer, bool offer, bool progress) {
  installer::BrandInfo brand(temp);
  Configure(&brand);
  installer::DistribInfoParams params;
  if (skip_offer) params.SetParamsForTesting({{"first", "1"}, {"def", "1"}, {"stat", "1"}});
  ScreensWindow window({nullptr, &brand, &params, false, installer::ProcessCommandLine()});
  std::thread driver([&] {
    HWND hwnd = WaitForWindow(&window);
    if (hwnd == nullptr) return;
    if (skip_offer) {
      PostMessageW(hwnd, lite_installer::kSetPercentMessage, 12, 0);
      Pose(L"skipped", hwnd);
    } else {
      if (offer) Pose(L"offer", hwnd);
      if (progress) {
        SendMessageW(GetDlgItem(hwnd, IDC_INSTALL_BUTTON), BM_CLICK, 0, 0);
        PostMessageW(hwnd, lite_installer::kSetPercentMessage, 37, 0);
        Pose(L"progress", hwnd);
      }
    }
    PostMessageW(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
  });
  window.DoModal();
  driver.join();
}

void RunDialog(lite_installer::MessageKind kind, uint32_t language_id,
               const std::wstring& screen) {
  lite_installer::MessageDialog dialog(kind, language_id, L"https://localhost:1/download");
  std::thread driver([&] {
    HWND hwnd = nullptr;
    for (int i = 0; i < 300 && hwnd == nullptr; ++i) {
      Sleep(100);
      hwnd = FindWindowW(L"#32770", nullptr);
      if (hwnd != nullptr && !IsWindowVisible(hwnd)) hwnd = nullptr;
    }
    if (hwnd == nullptr) return;
    Pose(screen, hwnd);
    PostMessageW(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
  });
  dialog.DoModal();
  driver.join();
}

}  // namespace

int wmain() {
  const installer::CommandLine& command_line = installer::ProcessCommandLine();
  g_dir = command_line.Value("dir");
  if (g_dir.empty()) return 2;
  if (command_line.Has("language")) g_language = platform::Narrow(command_line.Value("language"));
  std::wstring screens = command_line.Has("screens") ? command_line.Value("screens")
                                                     : L"offer,progress,skipped,error,disk";
  auto wants = [&](const wchar_t* name) { return screens.find(name) != std::wstring::npos; };

  // The values the install flow writes for the setup go to a key of their own.
  const wchar_t kScratchKey[] = L"Software\\LiteInstallerScreens";
  installer::SetBrowserRegistryKeyPathForTesting(kScratchKey);
  installer::UiEnvironment ui_environment;
  std::wstring temp = g_dir + L"\\work\\";
  CreateDirectoryW(temp.c_str(), nullptr);
  if (wants(L"offer") || wants(L"progress")) {
    RunWindow(temp, false, wants(L"offer"), wants(L"progress"));
  }
  if (wants(L"skipped")) RunWindow(temp, true, false, false);
  installer::BrandInfo brand(temp);
  Configure(&brand);
  if (wants(L"error")) {
    RunDialog(lite_installer::MessageKind::kDownloadManually, brand.language_id(), L"error");
  }
  if (wants(L"disk")) {
    RunDialog(lite_installer::MessageKind::kNotEnoughDiskSpace, brand.language_id(), L"disk");
  }
  RegDeleteTreeW(HKEY_CURRENT_USER, kScratchKey);
  return 0;
}

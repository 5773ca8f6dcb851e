#include "install/elevated_child.h"

#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "install/installer.h"
#include "platform/scoped_handle.h"
#include "platform/strings.h"
#include "tests/support/pending_deletions.h"
#include "tests/support/test_log.h"
#include "tests/support/test_paths.h"

namespace installer {
namespace {

// The system's file operations, each one written down as "<kind> <path>"; the first
// `collisions` folders it is asked for in `collision_root` are reported as made by somebody
// else.
class RecordingFileSystem : public ChildFileSystem {
 public:
  bool CreateFolder(const std::wstring& path, SECURITY_ATTRIBUTES* attributes) override {
    if (collisions > 0 && path.compare(0, collision_root.size(), collision_root) == 0) {
      --collisions;
      operations.push_back(L"taken " + path);
      SetLastError(ERROR_ALREADY_EXISTS);
      return false;
    }
    operations.push_back(L"folder " + path);
    return ChildFileSystem::CreateFolder(path, attributes);
  }
  HANDLE Open(const std::wstring& path, DWORD access, DWORD share, DWORD disposition,
              DWORD flags) override {
    const bool writes = access & (GENERIC_WRITE | FILE_WRITE_DATA | DELETE);
    operations.push_back((writes ? L"write " : L"read ") + path);
    return ChildFileSystem::Open(path, access, share, disposition, flags);
  }
  bool DeleteThrough(HANDLE file, const std::wstring& path) override {
    operations.push_back(L"delete " + path);
    return ChildFileSystem::DeleteThrough(file, path);
  }
  bool DeleteAtReboot(const std::wstring& path) override {
    operations.push_back(L"reboot " + path);
    return ChildFileSystem::DeleteAtReboot(path);
  }
  // Every operation but reads of `sources`, each with its path relative to `folder`
  // ("." for the folder itself), or the whole path when it lies elsewhere.
  std::vector<std::wstring> Relative(const std::wstring& folder,
                                     const std::vector<std::wstring>& sources) const {
    std::vector<std::wstring> result;
    for (const std::wstring& operation : operations) {
      const size_t space = operation.find(L' ');
      const std::wstring path = operation.substr(space + 1);
      bool source = false;
      for (const std::wstring& s : sources) source = source || path == s;
      if (source && operation.compare(0, 5, L"read ") == 0) continue;
      std::wstring shown = path;
      if (path == folder) shown = L".";
      if (path.compare(0, folder.size() + 1, folder + L"\\") == 0) {
        shown = path.substr(folder.size() + 1);
      }
      result.push_back(operation.substr(0, space + 1) + shown);
    }
    return result;
  }

  int collisions = 0;
  std::wstring collision_root;
  std::vector<std::wstring> operations;
};

// The folder is a fresh one with a random name (a name somebody made first is passed over,
// never opened), the copies are what one handle read, and the clean-up removes exactly what
// was made, by the names given, with nothing left for the next reboot.
TEST(ElevatedChildFolderTest, FreshFolderCopiesThroughOneHandleAndRemovesOnlyWhatItMade) {
  test_support::ScopedTempDir sources;
  test_support::ScopedTempDir root;
  const std::wstring archive = sources.File(L"setup.arc");
  const std::wstring clids = sources.File(L"clids.xml");
  const std::string original(200000, 'a');
  ASSERT_TRUE(test_support::WriteFileBytes(archive, original));
  ASSERT_TRUE(test_support::WriteFileBytes(clids, "<clids/>"));
  RecordingFileSystem files;
  files.collisions = 2;
  files.collision_root = root.path();
  const std::wstring missing = sources.File(L"missing");
  std::wstring folder;
  {
    test_support::ScopedTestLog log;
    PrivateFolder made(&files);
    // A root that refuses the folder gives way to the next one.
    ASSERT_TRUE(made.Create({missing, root.path()})) << log.Text();
    EXPECT_EQ(1, log.CountLines(L"): Cannot create a private folder in " + missing)) << log.Text();
    folder = made.path();
    ASSERT_EQ(root.path().size() + 20, folder.size()) << platform::Narrow(folder);
    EXPECT_EQ(root.File(L"li_"), folder.substr(0, root.path().size() + 4));
    const std::wstring archive_copy = made.CopyIn(archive, L"setup.arc", 1u << 20);
    EXPECT_EQ(folder + L"\\setup.arc", archive_copy);
    EXPECT_EQ(original, test_support::ReadFileBytes(archive_copy));
    // Over the cap, a folder, a missing file: nothing is copied, nothing is left of them.
    EXPECT_TRUE(made.CopyIn(clids, L"clids.xml", 4).empty());
    EXPECT_EQ(folder + L"\\clids.xml", made.CopyIn(clids, L"clids.xml", 1024));
    EXPECT_TRUE(made.CopyIn(sources.path(), L"folder", 1024).empty());
    EXPECT_TRUE(made.CopyIn(sources.File(L"none"), L"none", 1024).empty());
    EXPECT_EQ(4, log.CountLines(L"ERROR: ExecuteAsAdmin (")) << log.Text();
    // Changing the original afterwards does not reach the copy.
    ASSERT_TRUE(test_support::WriteFileBytes(archive, "swapped"));
    EXPECT_EQ(original, test_support::ReadFileBytes(archive_copy));
  }
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(folder.c_str()));
  EXPECT_EQ(std::wstring::npos, test_support::PendingRenameOperations().find(root.path()));
  // The failed root, two names somebody had made (passed over, never opened), then all that
  // happened in the folder, in order: its creation, the copies, the deletions by handle.
  const std::vector<std::wstring> seen = files.Relative(folder, {archive, clids});
  ASSERT_LE(3u, seen.size());
  EXPECT_EQ(0u, seen[0].find(L"folder " + missing + L"\\li_"));
  for (size_t i : {1, 2}) {
    EXPECT_EQ(0u, seen[i].find(L"taken " + root.File(L"li_"))) << platform::Narrow(seen[i]);
    EXPECT_NE(L"taken " + folder, seen[i]);
  }
  const std::vector<std::wstring> kInside = {
      L"folder .",          L"read .",           L"write setup.arc",
      L"write clids.xml",   L"read " + sources.path(),   L"read " + sources.File(L"none"),
      L"write clids.xml",   L"delete clids.xml",  L"write setup.arc",
      L"delete setup.arc",  L"write .",           L"delete .",
  };
  EXPECT_EQ(kInside, std::vector<std::wstring>(seen.begin() + 3, seen.end()));
}

// A copy that is still in use when the run ends (a setup that left a process behind) is
// marked for deletion at the next reboot, and its folder after it; nothing else is.
TEST(ElevatedChildFolderTest, WhatIsStillInUseIsLeftForTheNextReboot) {
  test_support::ScopedTempDir sources;
  test_support::ScopedTempDir root;
  ASSERT_TRUE(test_support::WriteFileBytes(sources.File(L"a"), "a"));
  RecordingFileSystem files;
  std::wstring folder;
  platform::ScopedKernelHandle holder;
  {
    test_support::ScopedTestLog log;
    PrivateFolder made(&files);
    ASSERT_TRUE(made.Create({root.path()}));
    folder = made.path();
    const std::wstring copy = made.CopyIn(sources.File(L"a"), L"a", 16);
    holder.reset(CreateFileW(copy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             0, nullptr));
    ASSERT_TRUE(holder);
  }
  const std::wstring pending = test_support::PendingRenameOperations();
  const size_t copy_at = pending.find(L"\\??\\" + folder + L"\\a" + L'\0');
  EXPECT_NE(std::wstring::npos, copy_at);
  EXPECT_NE(std::wstring::npos, pending.find(L"\\??\\" + folder + L'\0', copy_at));
  test_support::ForgetPendingDeletionsUnder(root.path());
  EXPECT_EQ(std::wstring::npos, test_support::PendingRenameOperations().find(root.path()));
  EXPECT_EQ(2, std::count_if(files.operations.begin(), files.operations.end(),
                             [](const std::wstring& op) { return op.compare(0, 7, L"reboot ") == 0; }));
}

// The folder's DACL lets only Administrators and SYSTEM in, and only what it says: nothing is
// inherited from the parent. Wine neither keeps nor enforces it (a file's descriptor is made
// up from its Unix mode bits), so it is checked as it is handed to CreateDirectoryW.
TEST(PrivateFolderDescriptorTest, ProtectedFullAccessForAdministratorsAndSystemOnly) {
  PrivateFolderDescriptor descriptor;
  ASSERT_NE(nullptr, descriptor.get());
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(descriptor.get(), &control, &revision));
  EXPECT_TRUE(control & SE_DACL_PROTECTED);
  PSID owner = nullptr;
  BOOL owner_defaulted = TRUE;
  ASSERT_TRUE(GetSecurityDescriptorOwner(descriptor.get(), &owner, &owner_defaulted));
  ASSERT_NE(nullptr, owner);
  EXPECT_TRUE(IsWellKnownSid(owner, WinBuiltinAdministratorsSid));
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted));
  ASSERT_TRUE(present);
  ASSERT_NE(nullptr, dacl);
  const WELL_KNOWN_SID_TYPE kExpected[] = {WinBuiltinAdministratorsSid, WinLocalSystemSid};
  ASSERT_EQ(2u, dacl->AceCount);
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    ASSERT_TRUE(GetAce(dacl, i, &ace));
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, allowed->Header.AceType);
    EXPECT_EQ(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, allowed->Header.AceFlags);
    EXPECT_EQ(static_cast<DWORD>(FILE_ALL_ACCESS), allowed->Mask);
    EXPECT_TRUE(IsWellKnownSid(&allowed->SidStart, kExpected[i])) << i;
  }
}

TEST(WindowProgressProxyTest, PostsPercentAndRemainingTimeAndHidesCancel) {
  HWND window = CreateWindowExW(0, L"STATIC", L"master", WS_POPUP, 0, 0, 100, 100, nullptr,
                                nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, window);
  HWND cancel = CreateWindowExW(0, L"BUTTON", L"Cancel", WS_CHILD | WS_VISIBLE, 0, 0, 50, 20,
                                window, reinterpret_cast<HMENU>(1009), nullptr, nullptr);
  ASSERT_NE(nullptr, cancel);
  MSG message;
  while (PeekMessageW(&message, window, WM_APP, WM_APP + 10, PM_REMOVE)) {
  }

  WindowProgressProxy proxy(window);
  EXPECT_EQ(window, proxy.WindowHandle());
  proxy.SetDownloadFraction(0.5f);
  proxy.OnLongDownload();
  proxy.Finish();
  proxy.ShowError(402);
  proxy.SetPercent(40);
  proxy.SetRemainingTime(0xFFFFFFFF, ProgressListener::kTimeStart);
  proxy.SetRemainingTime(300, ProgressListener::kTimeEstimate);
  proxy.RemoveCancelButton();

  struct Posted {
    UINT message;
    WPARAM wparam;
    LPARAM lparam;
  };
  std::vector<Posted> posted;
  while (PeekMessageW(&message, window, WM_APP, WM_APP + 10, PM_REMOVE)) {
    posted.push_back({message.message, message.wParam, message.lParam});
  }
  ASSERT_EQ(3u, posted.size());
  EXPECT_EQ(0x8002u, posted[0].message);
  EXPECT_EQ(40u, posted[0].wparam);
  EXPECT_EQ(0, posted[0].lparam);
  EXPECT_EQ(0x8003u, posted[1].message);
  EXPECT_EQ(0xFFFFFFFFu, posted[1].wparam);
  EXPECT_EQ(0, posted[1].lparam);
  EXPECT_EQ(0x8003u, posted[2].message);
  EXPECT_EQ(300u, posted[2].wparam);
  EXPECT_EQ(1, posted[2].lparam);
  // Hidden, not destroyed: the window belongs to another process.
  EXPECT_TRUE(IsWindow(cancel));
  EXPECT_FALSE(GetWindowLongW(cancel, GWL_STYLE) & WS_VISIBLE);
  DestroyWindow(window);

  // Without a window nothing happens at all.
  WindowProgressProxy nobody(nullptr);
  nobody.SetPercent(100);
  nobody.RemoveCancelButton();
  EXPECT_EQ(nullptr, nobody.WindowHandle());
}

}  // namespace
}  // namespace installer

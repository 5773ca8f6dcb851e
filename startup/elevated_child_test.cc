#include "startup/elevated_archive.h"

#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "download/download_sink.h"
#include "platform/scoped_handle.h"
#include "platform/strings.h"
#include "tests/support/test_log.h"
#include "tests/support/test_paths.h"

namespace installer {
namespace {

struct CaseInsensitiveLess {
  bool operator()(const std::wstring& a, const std::wstring& b) const {
    return _wcsicmp(a.c_str(), b.c_str()) < 0;
  }
};

// A file system of a few entries; every other path is missing.
class FakeFileSystem : public FileSystemView {
 public:
  std::map<std::wstring, DWORD, CaseInsensitiveLess> entries = {
      {L"C:\\Users", FILE_ATTRIBUTE_DIRECTORY},
      {L"C:\\Users\\me", FILE_ATTRIBUTE_DIRECTORY},
      {L"C:\\Users\\me\\setup.arc", FILE_ATTRIBUTE_ARCHIVE},
      {L"C:\\Users\\me\\folder", FILE_ATTRIBUTE_DIRECTORY},
      {L"C:\\Users\\link", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT},
      {L"C:\\Users\\link\\setup.arc", FILE_ATTRIBUTE_ARCHIVE},
      {L"C:\\Users\\me\\symlink.arc", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT},
      {L"Z:\\setup.arc", FILE_ATTRIBUTE_ARCHIVE},
  };
  DWORD Attributes(const std::wstring& path) override {
    auto found = entries.find(path);
    return found == entries.end() ? INVALID_FILE_ATTRIBUTES : found->second;
  }
  UINT DriveType(const std::wstring& root) override {
    return root == L"Z:\\" ? DRIVE_REMOTE : DRIVE_FIXED;
  }
};

TEST(LocalFileProblemTest, OnlyLocalRegularFilesWithoutReparsePoints) {
  struct Case {
    const wchar_t* path;
    const char* problem;  // null: accepted
  };
  const Case kCases[] = {
      {L"C:\\Users\\me\\setup.arc", nullptr},
      {L"c:\\Users\\me\\setup.arc", nullptr},
      {L"\\\\server\\share\\setup.arc", "not a local absolute path"},
      {L"\\\\?\\C:\\Users\\me\\setup.arc", "not a local absolute path"},
      {L"\\\\.\\C:\\Users\\me\\setup.arc", "not a local absolute path"},
      {L"\\??\\C:\\Users\\me\\setup.arc", "not a local absolute path"},
      {L"setup.arc", "not a local absolute path"},
      {L"C:setup.arc", "not a local absolute path"},
      {L"", "not a local absolute path"},
      {L"C:\\Users\\me\\setup.arc:stream", "not a plain path"},
      {L"C:/Users/me/setup.arc", "not a local absolute path"},
      {L"C:\\Users/me\\setup.arc", "not a plain path"},
      {L"C:\\Users\\me\\..\\me\\setup.arc", "not a plain path"},
      {L"C:\\Users\\me\\.. \\me\\setup.arc", "not a plain path"},
      {L"C:\\Users\\\\me\\setup.arc", "not a plain path"},
      {L"Z:\\setup.arc", "not on a local drive"},
      {L"C:\\Users\\link\\setup.arc", "a reparse point on the way"},
      {L"C:\\Users\\me\\symlink.arc", "a reparse point on the way"},
      {L"C:\\Users\\me\\folder", "not a regular file"},
      {L"C:\\Users\\me\\setup.arc\\x", "a file on the way"},
      {L"C:\\Users\\me\\missing.arc", "missing"},
  };
  FakeFileSystem file_system;
  for (const Case& c : kCases) {
    const char* problem = LocalFileProblem(c.path, &file_system);
    if (c.problem == nullptr) {
      EXPECT_EQ(nullptr, problem) << platform::Narrow(c.path) << ": " << problem;
    } else {
      ASSERT_NE(nullptr, problem) << platform::Narrow(c.path);
      EXPECT_STREQ(c.problem, problem) << platform::Narrow(c.path);
    }
  }
  // A path that is too long never reaches the file system.
  EXPECT_STREQ("too long", LocalFileProblem(L"C:\\" + std::wstring(300, L'a'), &file_system));
}

// The files Windows renames or deletes at the next reboot, as MoveFileExW lists them ("\\??\\"
// source, then target, empty for a deletion, each ending in a zero).
constexpr wchar_t kSessionManagerKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
std::wstring PendingOperations() {
  std::vector<wchar_t> data;
  DWORD size = 0;
  LSTATUS status = ERROR_MORE_DATA;
  while (status == ERROR_MORE_DATA) {
    data.resize(size / sizeof(wchar_t) + 1);
    size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    status = RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManagerKey, L"PendingFileRenameOperations",
                          RRF_RT_REG_MULTI_SZ, nullptr, data.data(), &size);
  }
  return status == ERROR_SUCCESS ? std::wstring(data.data(), size / sizeof(wchar_t)) : L"";
}

// Takes this test's deletions (source, zero, empty target's zero) out of the list again.
void ForgetPendingDeletionsUnder(const std::wstring& folder) {
  std::wstring list = PendingOperations();
  for (size_t at; (at = list.find(L"\\??\\" + folder)) != std::wstring::npos;) {
    list.erase(at, list.find(L'\0', at) + 2 - at);
  }
  RegSetKeyValueW(HKEY_LOCAL_MACHINE, kSessionManagerKey, L"PendingFileRenameOperations",
                  REG_MULTI_SZ, list.data(), static_cast<DWORD>(list.size() * sizeof(wchar_t)));
}

// The private copy is the archive as it was read through one handle, in a fresh folder of the
// persistent parent, which nobody else could have written.
TEST(PrivateArchiveCopyTest, CopiesThroughOneHandleAndGoesWithTheCopy) {
  test_support::ScopedTempDir source_dir;
  test_support::ScopedTempDir root;
  const std::wstring source = source_dir.File(L"setup.arc");
  const std::string original(200000, 'a');
  ASSERT_TRUE(test_support::WriteFileBytes(source, original));
  // A parent the user made: it holds what the user put there, so it is made anew.
  const std::wstring parent = root.File(kPrivateParentName);
  ASSERT_TRUE(CreateDirectoryW(parent.c_str(), nullptr));
  ASSERT_TRUE(test_support::WriteFileBytes(parent + L"\\planted", "x"));
  std::wstring folder;
  {
    test_support::ScopedTestLog log;
    PrivateArchiveCopy copy;
    // A root that is missing (or refuses the folder) gives way to the next one.
    const std::wstring missing = source_dir.File(L"missing");
    ASSERT_TRUE(copy.Create(source, {missing, root.path()})) << log.Text();
    EXPECT_EQ(1, log.CountLines(L"): Cannot create a private folder in " + missing)) << log.Text();
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((parent + L"\\planted").c_str()));
    folder = copy.folder();
    EXPECT_EQ(parent + L"\\li_", folder.substr(0, parent.size() + 4));
    EXPECT_EQ(folder + L"\\" + kPrivateCopyName, copy.path());
    EXPECT_EQ(original, test_support::ReadFileBytes(copy.path()));
    // Should the child never get to remove them, the next reboot does: the copy, then its
    // folder (Windows deletes in the order of the list).
    const std::wstring pending = PendingOperations();
    const size_t copy_at = pending.find(L"\\??\\" + copy.path() + L'\0');
    EXPECT_NE(std::wstring::npos, copy_at);
    EXPECT_NE(std::wstring::npos, pending.find(L"\\??\\" + folder + L'\0', copy_at));
    ForgetPendingDeletionsUnder(root.path());
    EXPECT_EQ(std::wstring::npos, PendingOperations().find(root.path()));
    // Changing or replacing the original afterwards does not reach the copy.
    ASSERT_TRUE(test_support::WriteFileBytes(source, "swapped"));
    EXPECT_EQ(original, test_support::ReadFileBytes(copy.path()));
  }
  // Gone with the copy; the parent stays.
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(folder.c_str()));
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(parent.c_str()));

// A folder, nothing at all, or more than a download may hold (a sparse file here) is
  // never copied, and nothing is made for it.
  const std::wstring big = source_dir.File(L"big.arc");
  platform::ScopedKernelHandle file(CreateFileW(big.c_str(), GENERIC_WRITE, 0, nullptr,
                                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size;
  size.QuadPart = static_cast<LONGLONG>(kMaxArchiveBytes) + 1;
  ASSERT_TRUE(SetFilePointerEx(file.get(), size, nullptr, FILE_BEGIN) && SetEndOfFile(file.get()));
  file.reset();
  for (const std::wstring& bad : {source_dir.path(), source_dir.File(L"missing.arc"), big}) {
    test_support::ScopedTestLog log;
    PrivateArchiveCopy copy;
    EXPECT_FALSE(copy.Create(bad, {root.path()})) << platform::Narrow(bad);
    EXPECT_TRUE(copy.path().empty());
    EXPECT_EQ(1, log.CountLines(L"ERROR: ExecuteAsAdmin (")) << log.Text();
    WIN32_FIND_DATAW found;
    platform::ScopedFindHandle find(FindFirstFileW((parent + L"\\li_*").c_str(), &found));
    EXPECT_FALSE(find);
  }
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

// Who may write the persistent parent, from its owner and DACL (Wine keeps no descriptor, so
// the real folder cannot show these).
TEST(OnlyAdministratorsCanWriteTest, OwnerAndEveryEntryThatLetsSomebodyWrite) {
  const struct {
    const wchar_t* sddl;
    bool only_administrators;
  } kCases[] = {
      {L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", true},
      {L"O:SYD:(A;;FA;;;SY)(A;;FR;;;BU)(D;;FA;;;WD)(A;OICIIO;FA;;;CO)", true},
      {L"O:BAD:", true},                                       // nobody but the owner
      {L"O:S-1-5-21-1-2-3-1000D:P(A;OICI;FA;;;BA)", false},  // a user's own folder
      {L"O:BAD:(A;;0x4;;;BU)", false},                         // users add folders
      {L"O:BAD:(A;;SD;;;S-1-5-21-1-2-3-1000)", false},         // a user deletes it
      {L"O:BAD:(A;;WD;;;AU)", false},                          // rewrites its DACL
      {L"O:BAD:(A;;GW;;;WD)", false},
  };
  for (const auto& c : kCases) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(c.sddl, SDDL_REVISION_1,
                                                                     &descriptor, nullptr));
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
    GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    EXPECT_EQ(c.only_administrators, OnlyAdministratorsCanWrite(owner, present ? dacl : nullptr))
        << platform::Narrow(c.sddl);
    LocalFree(descriptor);
  }
  // No DACL at all lets everybody in.
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof(administrators);
  ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size));
  EXPECT_FALSE(OnlyAdministratorsCanWrite(administrators, nullptr));
}

// Private folders of children that were killed go; those of running processes, and anything
// else, stay.
TEST(RemoveStalePrivateFoldersTest, OnlyFoldersOfEndedProcesses) {
  test_support::ScopedTempDir parent;
  const std::wstring own = L"li_" + platform::ToWString(GetCurrentProcessId()) + L"_1";
  for (const std::wstring& name : {std::wstring(L"li_4294967295_2"), own, std::wstring(L"li_x_3"),
                                   std::wstring(L"other_4294967295_4")}) {
    ASSERT_TRUE(CreateDirectoryW(parent.File(name).c_str(), nullptr));
    ASSERT_TRUE(test_support::WriteFileBytes(parent.File(name) + L"\\" + kPrivateCopyName, "a"));
  }
  RemoveStalePrivateFolders(parent.path());
  for (const std::wstring& name : {std::wstring(L"li_4294967295_2"), own, std::wstring(L"li_x_3"),
                                   std::wstring(L"other_4294967295_4")}) {
    EXPECT_EQ(name != L"li_4294967295_2",
              GetFileAttributesW(parent.File(name).c_str()) != INVALID_FILE_ATTRIBUTES);
  }
}

}  // namespace
}  // namespace installer

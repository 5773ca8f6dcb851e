#include "brand/vendor_files.h"

#include <gtest/gtest.h>

#include "platform/command_line.h"
#include "platform/scoped_handle.h"
#include "platform/strings.h"
#include "tests/support/browser_registry_key.h"
#include "tests/support/test_log.h"
#include "tests/support/test_paths.h"

namespace installer {
namespace {

std::wstring StoredValue(const test_support::ScopedBrowserRegistryKey& key, const wchar_t* name) {
  DWORD type = 0;
  std::string bytes;
  if (!key.Read(name, &type, &bytes) || type != REG_SZ) return L"<missing>";
  std::wstring value(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
  if (!value.empty() && value.back() == L'\0') value.pop_back();
  return value;
}

class VendorFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The installer itself carries the real documents.
    installer_.reset(LoadLibraryExW(test_support::BuildFile(L"lite_installer.exe").c_str(),
                                    nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(installer_.is_valid());
  }
  std::string Source(const wchar_t* name) const {
    return test_support::ReadFileBytes(test_support::SourceFile(std::wstring(L"resources\\vendor\\") + name));
  }

  test_support::ScopedTestLog log_;
  test_support::ScopedBrowserRegistryKey key_;
  test_support::ScopedTempDir dir_;
  platform::ScopedModule installer_;
};

TEST_F(VendorFilesTest, WritesAllThreeFromTheResourcesWhenNoPathWasGiven) {
  const std::wstring folder = dir_.path() + L"\\";
  const VendorFilePaths paths = WriteVendorFilesFromModule(installer_.get(), folder, {});
  EXPECT_EQ(folder + L"master_preferences", paths.installer_data);
  EXPECT_EQ(folder + L"clids.xml", paths.clids);
  EXPECT_EQ(folder + L"clids_searchband.xml", paths.clids_searchband);
  // Byte for byte what the resources were built from.
  EXPECT_EQ(Source(L"master_preferences.json"), test_support::ReadFileBytes(paths.installer_data));
  EXPECT_EQ(Source(L"clids.xml"), test_support::ReadFileBytes(paths.clids));
  EXPECT_EQ(Source(L"clids_searchband.xml"), test_support::ReadFileBytes(paths.clids_searchband));
  EXPECT_FALSE(Source(L"clids.xml").empty());

  EXPECT_EQ(paths.installer_data, StoredValue(key_, L"InstallerData"));
  EXPECT_EQ(paths.clids, StoredValue(key_, L"ClidsFile"));
  EXPECT_EQ(paths.clids_searchband, StoredValue(key_, L"ClidsSearchbandFile"));
  EXPECT_TRUE(log_.Contains(L"\\InstallerData = " + paths.installer_data + L"\n"));
  EXPECT_FALSE(log_.Contains(L"WARNING"));
}

TEST_F(VendorFilesTest, GivenPathsAreKeptAndNotWritten) {
  const std::wstring folder = dir_.path() + L"\\";
  struct Case {
    const char* name;
    VendorFilePaths given;
    VendorFilePaths expected;
  } cases[] = {
      {"installer data given",
       {L"D:\\mine\\prefs.json", L"", L""},
       {L"D:\\mine\\prefs.json", folder + L"clids.xml", folder + L"clids_searchband.xml"}},
      {"clids given", {L"", L"D:\\c.xml", L""},
       {folder + L"master_preferences", L"D:\\c.xml", folder + L"clids_searchband.xml"}},
      {"all given", {L"a", L"b", L"c"}, {L"a", L"b", L"c"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const wchar_t* name : {L"master_preferences", L"clids.xml", L"clids_searchband.xml"}) {
      DeleteFileW((folder + name).c_str());
    }
    const VendorFilePaths paths = WriteVendorFilesFromModule(installer_.get(), folder, c.given);
    EXPECT_EQ(c.expected.installer_data, paths.installer_data);
    EXPECT_EQ(c.expected.clids, paths.clids);
    EXPECT_EQ(c.expected.clids_searchband, paths.clids_searchband);
    EXPECT_EQ(c.given.installer_data.empty(),
              GetFileAttributesW((folder + L"master_preferences").c_str()) != INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(c.given.clids.empty(),
              GetFileAttributesW((folder + L"clids.xml").c_str()) != INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(c.expected.installer_data, StoredValue(key_, L"InstallerData"));
    EXPECT_EQ(c.expected.clids, StoredValue(key_, L"ClidsFile"));
    EXPECT_EQ(c.expected.clids_searchband, StoredValue(key_, L"ClidsSearchbandFile"));
  }
}

TEST_F(VendorFilesTest, ExistingFilesAreTruncatedAndTheSeparatorIsAdded) {
  const std::wstring stale = dir_.File(L"clids.xml");
  ASSERT_TRUE(test_support::WriteFileBytes(stale, std::string(100000, 'x')));
  // No trailing backslash on the folder.
  const VendorFilePaths paths = WriteVendorFilesFromModule(installer_.get(), dir_.path(), {});
  EXPECT_EQ(stale, paths.clids);
  EXPECT_EQ(Source(L"clids.xml"), test_support::ReadFileBytes(stale));
}

TEST_F(VendorFilesTest, MissingResourcesAreLoggedAndLeaveEmptyFiles) {
  platform::ScopedModule fixture(LoadLibraryExW(
      test_support::BuildFile(L"test_programs\\resource_fixture.dll").c_str(), nullptr,
      LOAD_LIBRARY_AS_DATAFILE));
  ASSERT_TRUE(fixture.is_valid());
  const VendorFilePaths paths = WriteVendorFilesFromModule(fixture.get(), dir_.path() + L"\\", {});
  EXPECT_EQ(3, log_.CountLines(L"WARNING: WriteVendorFiles ("));
  EXPECT_TRUE(log_.Contains(L"Resource 305 is missing or empty\n"));
  EXPECT_TRUE(log_.Contains(L"Resource 322 is missing or empty\n"));
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(paths.clids.c_str()));
  EXPECT_EQ("", test_support::ReadFileBytes(paths.clids));
  EXPECT_EQ(paths.clids, StoredValue(key_, L"ClidsFile"));
}

// A file that cannot be written whole is not handed on: neither path nor registry value
// names it, since what lies there may be an earlier run's (another brand's) file.
TEST_F(VendorFilesTest, FilesThatCannotBeWrittenAreNotHandedOn) {
  // An earlier run's setup still holds its clids.xml open, sharing nothing.
  const std::wstring folder = dir_.path() + L"\\";
  ASSERT_TRUE(test_support::WriteFileBytes(folder + L"clids.xml", "an earlier brand"));
  platform::ScopedKernelHandle held(CreateFileW((folder + L"clids.xml").c_str(), GENERIC_READ, 0,
                                                nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held.is_valid());
  VendorFilePaths paths = WriteVendorFilesFromModule(installer_.get(), folder, {});
  held.reset();
  EXPECT_EQ(folder + L"master_preferences", paths.installer_data);
  EXPECT_EQ(L"", paths.clids);
  EXPECT_EQ(folder + L"clids_searchband.xml", paths.clids_searchband);
  EXPECT_EQ(L"<missing>", StoredValue(key_, L"ClidsFile"));
  EXPECT_EQ(paths.installer_data, StoredValue(key_, L"InstallerData"));
  EXPECT_EQ(1, log_.CountLines(L"ERROR: WriteVendorFiles (")) << log_.Text();
  EXPECT_TRUE(log_.Contains(L"Can't write " + folder + L"clids.xml"));

  // A folder that does not exist: nothing at all is handed on.
  const std::wstring missing = dir_.path() + L"\\missing\\";
  paths = WriteVendorFilesFromModule(installer_.get(), missing, {});
  EXPECT_EQ(L"", paths.installer_data);
  EXPECT_EQ(L"", paths.clids);
  EXPECT_EQ(L"", paths.clids_searchband);
  EXPECT_EQ(1 + 3, log_.CountLines(L"ERROR: WriteVendorFiles ("));
  for (const wchar_t* name : {L"InstallerData", L"ClidsFile", L"ClidsSearchbandFile"}) {
    EXPECT_EQ(L"<missing>", StoredValue(key_, name)) << platform::Narrow(name);
  }
}

TEST_F(VendorFilesTest, ProcessWithoutSwitchesUsesTheFolder) {
  // The test program's own module has no vendor resources, and its command line no paths.
  const VendorFilePaths from_switches = VendorFilePathsFromCommandLine(ProcessCommandLine());
  EXPECT_EQ(L"", from_switches.installer_data);
  EXPECT_EQ(L"", from_switches.clids);
  EXPECT_EQ(L"", from_switches.clids_searchband);
  const VendorFilePaths paths = WriteVendorFiles(dir_.path() + L"\\");
  EXPECT_EQ(dir_.File(L"clids_searchband.xml"), paths.clids_searchband);
  EXPECT_EQ(3, log_.CountLines(L"is missing or empty"));
}

}  // namespace
}  // namespace installer

#include "brand/registry_values.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "tests/support/browser_registry_key.h"
#include "tests/support/test_log.h"
#include "tests/support/test_paths.h"

namespace installer {
namespace {

class RegistryValuesTest : public ::testing::Test {
 protected:
  std::wstring Full(const std::wstring& name) const {
    return L"HKEY_CURRENT_USER\\" + key_.path() + L"\\" + name;
  }

  test_support::ScopedTestLog log_;
  test_support::ScopedBrowserRegistryKey key_;
};

TEST(RegistryKeyPathTest, RealKeyUnlessATestReplacesIt) {
  EXPECT_EQ(L"Software\\Zorvin\\ZorvinBrowser", BrowserRegistryKeyPath());
  {
    test_support::ScopedBrowserRegistryKey key;
    EXPECT_EQ(key.path(), BrowserRegistryKeyPath());
  }
  EXPECT_EQ(L"Software\\Zorvin\\ZorvinBrowser", BrowserRegistryKeyPath());
}

TEST_F(RegistryValuesTest, StoreWritesRegSzWithTerminatorAndLogsTheAssignment) {
  struct Case {
    std::string name;
    std::wstring value;
  } cases[] = {
      {"lang", L"ru"},
      {"brand", L""},
      {"DistribInfoParams", L"a=1&b=%D0%B0"},
      {"InstallerData", L"C:\\Users\\u\\Temp\\master_preferences"},
      {"wide", L"\x0423\x0441\x0442\x0430\x043D\x043E\x0432\x043A\x0430"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StoreValueInRegistry(c.name, c.value);
    const std::wstring wide_name(c.name.begin(), c.name.end());
    DWORD type = 0;
    std::string bytes;
    ASSERT_TRUE(key_.Read(wide_name, &type, &bytes));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    ASSERT_EQ((c.value.size() + 1) * sizeof(wchar_t), bytes.size());
    EXPECT_EQ(c.value, std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), c.value.size()));
    EXPECT_EQ(L'\0', reinterpret_cast<const wchar_t*>(bytes.data())[c.value.size()]);
    EXPECT_TRUE(log_.Contains(L"INFO: StoreValueInRegistry (") );
    EXPECT_TRUE(log_.Contains(L"): " + Full(wide_name) + L" = " + c.value + L"\n"));
    EXPECT_EQ(c.value, ReadStringFromRegistry(c.name));
  }
}

TEST_F(RegistryValuesTest, StoreReplacesAnEarlierValue) {
  StoreValueInRegistry("brand", L"first");
  StoreValueInRegistry("brand", L"second");
  EXPECT_EQ(L"second", ReadStringFromRegistry("brand"));
}

TEST_F(RegistryValuesTest, ReadGivesEmptyForMissingKeyValueAndOtherTypes) {
  // The key does not exist yet.
  EXPECT_EQ(L"", ReadStringFromRegistry("lang"));
  EXPECT_TRUE(log_.Contains(L"ReadStringFromRegistry (") );
  EXPECT_TRUE(log_.Contains(L"Read " + Full(L"lang") + L" which is \"\"\n"));

  const DWORD dword = 7;
  ASSERT_TRUE(key_.Write(L"dword", REG_DWORD, &dword, sizeof(dword)));
  const wchar_t multi[] = L"a\0b\0";
  ASSERT_TRUE(key_.Write(L"multi", REG_MULTI_SZ, multi, sizeof(multi)));
  ASSERT_TRUE(key_.Write(L"binary", REG_BINARY, L"abc", 8));
  EXPECT_EQ(L"", ReadStringFromRegistry("missing"));
  EXPECT_EQ(L"", ReadStringFromRegistry("dword"));
  EXPECT_EQ(L"", ReadStringFromRegistry("multi"));
  EXPECT_EQ(L"", ReadStringFromRegistry("binary"));
}

TEST_F(RegistryValuesTest, ReadExpandsRegExpandSz) {
  ASSERT_TRUE(SetEnvironmentVariableW(L"ZV_REGISTRY_TEST", L"C:\\Expanded"));
  ASSERT_TRUE(key_.WriteString(L"path", L"%ZV_REGISTRY_TEST%\\file.txt", REG_EXPAND_SZ));
  ASSERT_TRUE(key_.WriteString(L"plain", L"%ZV_REGISTRY_TEST%\\file.txt", REG_SZ));
  ASSERT_TRUE(key_.WriteString(L"unknown", L"%ZV_NOT_SET_ANYWHERE%", REG_EXPAND_SZ));
  EXPECT_EQ(L"C:\\Expanded\\file.txt", ReadStringFromRegistry("path"));
  EXPECT_TRUE(log_.Contains(L"Read " + Full(L"path") + L" which is \"C:\\Expanded\\file.txt\"\n"));
  // REG_SZ is returned as stored, without expansion.
  EXPECT_EQ(L"%ZV_REGISTRY_TEST%\\file.txt", ReadStringFromRegistry("plain"));
  // An unknown variable stays as written, as ExpandEnvironmentStrings leaves it.
  EXPECT_EQ(L"%ZV_NOT_SET_ANYWHERE%", ReadStringFromRegistry("unknown"));
  SetEnvironmentVariableW(L"ZV_REGISTRY_TEST", nullptr);
}

TEST_F(RegistryValuesTest, ExpansionLongerThan1023CharactersGivesNothing) {
  ASSERT_TRUE(SetEnvironmentVariableW(L"ZV_REGISTRY_LONG", std::wstring(600, L'x').c_str()));
  // 600 + 423 = 1023 characters plus the terminator fit; one more does not.
  ASSERT_TRUE(key_.WriteString(L"fits", L"%ZV_REGISTRY_LONG%" + std::wstring(423, L'y'),
                               REG_EXPAND_SZ));
  ASSERT_TRUE(key_.WriteString(L"too_long", L"%ZV_REGISTRY_LONG%" + std::wstring(424, L'y'),
                               REG_EXPAND_SZ));
  ASSERT_TRUE(key_.WriteString(L"twice", L"%ZV_REGISTRY_LONG%%ZV_REGISTRY_LONG%", REG_EXPAND_SZ));
  EXPECT_EQ(std::wstring(600, L'x') + std::wstring(423, L'y'), ReadStringFromRegistry("fits"));
  EXPECT_EQ(L"", ReadStringFromRegistry("too_long"));
  EXPECT_EQ(L"", ReadStringFromRegistry("twice"));
  SetEnvironmentVariableW(L"ZV_REGISTRY_LONG", nullptr);
}

TEST_F(RegistryValuesTest, ValuesBeyondThe2048ByteBufferGiveNothing) {
  // 1023 characters and the terminator are exactly 2048 bytes.
  const std::wstring fits(1023, L'a');
  const std::wstring too_long(1024, L'b');
  ASSERT_TRUE(key_.WriteString(L"fits", fits));
  ASSERT_TRUE(key_.WriteString(L"too_long", too_long));
  EXPECT_EQ(fits, ReadStringFromRegistry("fits"));
  EXPECT_EQ(L"", ReadStringFromRegistry("too_long"));
}

TEST_F(RegistryValuesTest, ValueStoredWithoutTerminatorIsReadWhole) {
  ASSERT_TRUE(key_.Write(L"bare", REG_SZ, L"abcd", 4 * sizeof(wchar_t)));
  EXPECT_EQ(L"abcd", ReadStringFromRegistry("bare"));
}

TEST_F(RegistryValuesTest, RemoveDeletesTheValueAndLogs) {
  StoreValueInRegistry("BrandFile", L"C:\\x\\BrandFile");
  StoreValueInRegistry("PartnerFile", L"C:\\x\\PartnerFile");
  ASSERT_TRUE(key_.Exists(L"BrandFile"));
  RemoveValueFromRegistry("BrandFile");
  EXPECT_FALSE(key_.Exists(L"BrandFile"));
  EXPECT_TRUE(key_.Exists(L"PartnerFile"));
  EXPECT_TRUE(log_.Contains(L"INFO: RemoveValueFromRegistry ("));
  EXPECT_TRUE(log_.Contains(L"): Remove " + Full(L"BrandFile") + L"\n"));
  // Removing again, or a value that never existed, is harmless.
  RemoveValueFromRegistry("BrandFile");
  RemoveValueFromRegistry("never");
  EXPECT_EQ(2, log_.CountLines(L"Remove " + Full(L"BrandFile")));
  EXPECT_EQ(L"", ReadStringFromRegistry("BrandFile"));
}

TEST_F(RegistryValuesTest, ReadFilePathKeepsOnlyPathsThatExist) {
  test_support::ScopedTempDir dir;
  const std::wstring file = dir.File(L"clids.xml");
  ASSERT_TRUE(test_support::WriteFileBytes(file, "<vendor/>"));
  StoreValueInRegistry("ClidsFile", file);
  StoreValueInRegistry("Folder", dir.path());
  StoreValueInRegistry("Gone", dir.File(L"missing.xml"));
  StoreValueInRegistry("Empty", L"");

  EXPECT_EQ(file, ReadFilePathFromRegistry("ClidsFile"));
  EXPECT_EQ(dir.path(), ReadFilePathFromRegistry("Folder"));
  EXPECT_EQ(L"", ReadFilePathFromRegistry("Gone"));
  EXPECT_EQ(L"", ReadFilePathFromRegistry("Empty"));
  EXPECT_EQ(L"", ReadFilePathFromRegistry("NeverStored"));
  EXPECT_TRUE(log_.Contains(L"INFO: ReadFilePathFromRegistry ("));
  EXPECT_TRUE(log_.Contains(L"Read " + Full(L"ClidsFile") + L" which is \"" + file + L"\"\n"));
  EXPECT_TRUE(log_.Contains(L"Read " + Full(L"Gone") + L" which is \"\"\n"));
}

}  // namespace
}  // namespace installer

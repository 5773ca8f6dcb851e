#include "brand/brand_packages.h"

#include <windows.h>

#include <string>
#include <vector>

#include "brand/brand_info.h"
#include "brand/cabinet.h"
#include "brand/registry_values.h"
#include "gtest/gtest.h"
#include "platform/scoped_handle.h"
#include "platform/strings.h"
#include "tests/support/cabinet_builder.h"
#include "tests/support/fake_brand_environment.h"
#include "tests/support/log_lines.h"
#include "tests/support/test_paths.h"

namespace installer {
namespace {

using test_support::BuildCabinet;
using test_support::FakeBrandEnvironment;
using test_support::LogMessagesOf;
using test_support::ScopedTestLog;
using Lines = std::vector<std::wstring>;

struct RegionCase {
  const char* region;
  const char* language;
  const char* brand;  // "" when no row matches
};

TEST(BrandPackagesTest, DetectionTable) {
  const RegionCase cases[] = {
      {"RU", "uk", "ua_uk"}, {"RU", "ru", "zorvin"}, {"RU", "en", "zorvin"},
      {"RU", "", "zorvin"},  {"UA", "ru", "ua_ru"},  {"UA", "uk", "ua_uk"},
      {"UA", "de", "ua_uk"}, {"TR", "ru", "tb"},     {"TR", "tr", "tb"},
      {"TR", "uk", "tb"},    {"DE", "ru", "zorvin"}, {"", "ru", "zorvin"},
      {"BY", "uk", "ua_uk"}, {"US", "tr", "tb"},     {"KZ", "kk", ""},
      {"DE", "de", ""},      {"", "", ""},           {"US", "en", ""},
      // Exact, case-sensitive cells.
      {"ru", "uk", "ua_uk"},  // region "ru" is not "RU"; the language row still matches
      {"ru", "en", ""},       {"Ru", "UK", ""},       {"UA ", "ru", "zorvin"},
      {"RUS", "de", ""},      {"UA", "ru-RU", "ua_uk"},
  };
  for (const RegionCase& test : cases) {
    EXPECT_EQ(test.brand, BrandNameForRegionAndLanguage(test.region, test.language))
        << test.region << " / " << test.language;
  }
}

TEST(BrandPackagesTest, AutodetectLogsRegionLocaleAndResult) {
  FakeBrandEnvironment environment;
  environment.region = "RU";
  environment.ui_language = "uk";
  {
    ScopedTestLog log;
    EXPECT_EQ("ua_uk", AutodetectBrandName(environment));
    EXPECT_EQ((Lines{L"INFO: User region: RU", L"INFO: User locale: uk",
                     L"INFO: Detected brand-name: ua_uk"}),
              LogMessagesOf(log, L"AutodetectBrandName"));
  }
  environment.region = "";
  environment.ui_language = "de";
  {
    ScopedTestLog log;
    EXPECT_EQ("zorvin", AutodetectBrandName(environment));
    EXPECT_EQ((Lines{L"INFO: User region: ", L"INFO: User locale: de",
                     L"INFO: Didn't found brand-name. Use default: zorvin"}),
              LogMessagesOf(log, L"AutodetectBrandName"));
  }
}

TEST(BrandPackagesTest, RegionIsTwoCapitalsOrNothing) {
  std::string region = ReadUserRegion();
  if (region.empty()) return;  // Windows may not know the user's nation
  ASSERT_EQ(2u, region.size());
  for (char c : region) EXPECT_TRUE(c >= 'A' && c <= 'Z') << region;
}

std::string Document(const std::string& brand_id) {
  return R"({"brand_id": ")" + brand_id + R"("})";
}

std::string BrandPackage(const std::string& brand_id) {
  return BuildCabinet({{"brand_config", Document(brand_id)}});
}

std::wstring SizeText(const std::string& bytes) {
  return L" [" + platform::ToWString(static_cast<unsigned long long>(bytes.size())) + L"B]";
}

class BrandPackagesSelectionTest : public testing::Test {
 protected:
  BrandPackagesSelectionTest() : work_dir_(temp_.path() + L"\\"), info_(work_dir_) {
    info_.SetEnvironmentForTesting(&environment_);
  }

  std::wstring BrandFile() const { return work_dir_ + L"BrandFile"; }
  std::wstring PartnerFile() const { return work_dir_ + L"PartnerFile"; }

  test_support::ScopedTempDir temp_;
  std::wstring work_dir_;
  FakeBrandEnvironment environment_;
  BrandInfo info_;
};

struct SelectionCase {
  const char* name;
  const wchar_t* switch_value;
  std::vector<std::pair<std::wstring, std::string>> named;  // "BRAND_..." packages present
  bool has_default;
  std::string region;
  std::string ui_language;
  Lines expected_requests;
  Lines expected_selection_lines;  // the lines after the partner warning, before "Extract"
  std::string expected_brand_id;   // "" when no brand package was read
};

TEST_F(BrandPackagesSelectionTest, BrandPackageSelection) {
  const SelectionCase cases[] = {
      {"no switch", L"", {{L"BRAND_ua_ru", BrandPackage("ua_ru")}}, true, "", "en",
       {L"#320", L"#319"}, {L"INFO: Fetching default package"}, "default"},
      {"a named package", L"ua_ru", {{L"BRAND_ua_ru", BrandPackage("ua_ru")}}, true, "", "en",
       {L"#320", L"BRAND_ua_ru"}, {L"INFO: Fetching definedua_ru package"}, "ua_ru"},
      {"capitals: logged as given, looked up in lower case", L"UA_RU",
       {{L"BRAND_ua_ru", BrandPackage("ua_ru")}}, true, "", "en", {L"#320", L"BRAND_ua_ru"},
       {L"INFO: Fetching definedUA_RU package"}, "ua_ru"},
      {"a name the file does not carry", L"UA_RU", {}, true, "", "en",
       {L"#320", L"BRAND_ua_ru", L"#319"},
       {L"INFO: Fetching definedUA_RU package", L"INFO: Fetching default package"}, "default"},
      {"Auto is a brand name, not the keyword", L"Auto", {}, true, "RU", "uk",
       {L"#320", L"BRAND_auto", L"#319"},
       {L"INFO: Fetching definedAuto package", L"INFO: Fetching default package"}, "default"},
      {"auto: Russia with a Ukrainian interface", L"auto",
       {{L"BRAND_ua_uk", BrandPackage("ua_uk")}}, true, "RU", "uk", {L"#320", L"BRAND_ua_uk"},
       {L"INFO: Fetching autodetected ua_uk package"}, "ua_uk"},
      {"auto: an unlisted region with a German interface", L"auto",
       {{L"BRAND_zorvin", BrandPackage("zorvin")}}, true, "DE", "de", {L"#320", L"BRAND_zorvin"},
       {L"INFO: Fetching autodetected zorvin package"}, "zorvin"},
      {"auto without the detected package", L"auto", {}, true, "TR", "en",
       {L"#320", L"BRAND_tb", L"#319"},
       {L"INFO: Fetching autodetected tb package", L"INFO: Fetching default package"},
       "default"},
      {"an empty named package", L"tb", {{L"BRAND_tb", ""}}, true, "", "en",
       {L"#320", L"BRAND_tb", L"#319"},
       {L"INFO: Fetching definedtb package", L"INFO: Fetching default package"}, "default"},
      {"no package at all", L"", {}, false, "", "en", {L"#320", L"#319"},
       {L"INFO: Fetching default package", L"WARNING: Brand package is empty."}, ""},
      {"a non-ASCII name keeps its letters", L"\u0411rand", {}, false, "", "en",
       {L"#320", L"BRAND_\u0411rand", L"#319"},
       {L"INFO: Fetching defined\u0411rand package", L"INFO: Fetching default package",
        L"WARNING: Brand package is empty."},
       ""},
  };
  for (const SelectionCase& test : cases) {
    SCOPED_TRACE(test.name);
    FakeBrandEnvironment environment;
    for (const auto& [name, bytes] : test.named) environment.packages_by_name[name] = bytes;
    if (test.has_default) environment.packages_by_id[319] = BrandPackage("default");
    environment.region = test.region;
    environment.ui_language = test.ui_language;
    BrandInfo info(work_dir_);
    info.SetEnvironmentForTesting(&environment);
    ScopedTestLog log;
    info.GetInfo(test.switch_value);

    EXPECT_EQ(test.expected_requests, environment.requested);
    EXPECT_EQ(test.expected_brand_id, info.brand_id());
    EXPECT_EQ(!test.expected_brand_id.empty(), info.brand_package_loaded());
    EXPECT_FALSE(info.partner_package_loaded());

    Lines lines = LogMessagesOf(log, L"GetInfoFromResources");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(L"WARNING: Partner package is empty.", lines.front());
    Lines selection(lines.begin() + 1, lines.end());
    if (!test.expected_brand_id.empty()) {
      ASSERT_FALSE(selection.empty());
      EXPECT_EQ(0u, selection.back().find(L"INFO: Extract Brand package: " + BrandFile()))
          << selection.back();
      selection.pop_back();
    }
    EXPECT_EQ(test.expected_selection_lines, selection);
  }
}

TEST_F(BrandPackagesSelectionTest, GetInfoStartsFromAClearRecordAndLogsThePaths) {
  info_.ApplyConfigDocument(R"({"brand_id": "stale", "install": {"send_statistics": false}})");
  environment_.packages_by_id[319] = BrandPackage("default");
  ScopedTestLog log;
  info_.GetInfo(L"");

  EXPECT_EQ("default", info_.brand_id());
  EXPECT_EQ(kUnset, info_.send_statistics());
  EXPECT_EQ(BrandFile(), info_.brand_package_path());
  EXPECT_EQ(PartnerFile(), info_.partner_package_path());
  EXPECT_EQ((std::vector<std::string>{"brand", "BrandFile", "PartnerFile"}),
            environment_.removed_values);
  EXPECT_EQ((Lines{L"INFO: Reset brand info.", L"INFO: Reset brand info."}),
            LogMessagesOf(log, L"Clear"));
  EXPECT_EQ((Lines{L"INFO: Brand package path: " + BrandFile(),
                   L"INFO: Partner package path: " + PartnerFile()}),
            LogMessagesOf(log, L"GetInfo"));
}

TEST_F(BrandPackagesSelectionTest, PackagesAreWrittenByteForByte) {
  std::string partner = BuildCabinet({{"partner_config", R"({"partner_id": "p-1"})"}});
  std::string brand = BrandPackage("default");
  environment_.packages_by_id[320] = partner;
  environment_.packages_by_id[319] = brand;
  // Files of an earlier run are longer than the new packages: they must be truncated.
  ASSERT_TRUE(test_support::WriteFileBytes(BrandFile(), std::string(5000, 'x')));
  ASSERT_TRUE(test_support::WriteFileBytes(PartnerFile(), std::string(5000, 'y')));
  ScopedTestLog log;
  info_.GetInfo(L"");

  EXPECT_EQ(brand, test_support::ReadFileBytes(BrandFile()));
  EXPECT_EQ(partner, test_support::ReadFileBytes(PartnerFile()));
  EXPECT_TRUE(info_.brand_package_loaded());
  EXPECT_TRUE(info_.partner_package_loaded());
  EXPECT_EQ("p-1", info_.partner_id());
  EXPECT_EQ((Lines{L"INFO: Extract Partner package: " + PartnerFile() + SizeText(partner),
                   L"INFO: Fetching default package",
                   L"INFO: Extract Brand package: " + BrandFile() + SizeText(brand)}),
            LogMessagesOf(log, L"GetInfoFromResources"));
}

// An earlier run's setup may still hold its package open: the file cannot be written, and
// is then not handed on (it may be another brand's), while its settings still apply.
TEST_F(BrandPackagesSelectionTest, APackageThatCannotBeWrittenIsNotHandedOn) {
  environment_.packages_by_id[320] =
      BuildCabinet({{"partner_config", R"({"partner_id": "p-1"})"}});
  environment_.packages_by_id[319] = BrandPackage("default");
  ASSERT_TRUE(test_support::WriteFileBytes(BrandFile(), "an earlier brand"));
  platform::ScopedKernelHandle held(CreateFileW(BrandFile().c_str(), GENERIC_READ, 0, nullptr,
                                                OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held.is_valid());
  ScopedTestLog log;
  info_.GetInfo(L"");
  held.reset();

  EXPECT_FALSE(info_.brand_package_loaded());
  EXPECT_TRUE(info_.partner_package_loaded());
  EXPECT_EQ("default", info_.brand_id());
  EXPECT_EQ("p-1", info_.partner_id());
  EXPECT_EQ(1, log.CountLines(L"ERROR: GetInfoFromResources (")) << log.Text();
  EXPECT_TRUE(log.Contains(L"Can't write " + BrandFile()));
}

TEST_F(BrandPackagesSelectionTest, PartnerSettingsBeatTheBrand) {
  environment_.packages_by_id[320] = BuildCabinet(
      {{"partner_config", R"({"brand_id": "partner", "install": {"setup_url": "https://p/"}})"}});
  environment_.packages_by_id[319] = BuildCabinet(
      {{"brand_config",
        R"({"brand_id": "brand", "brand_name": "Brand", "install": {"setup_url": "https://b/"}})"}});
  info_.GetInfo(L"");
  EXPECT_EQ("partner", info_.brand_id());
  EXPECT_EQ("Brand", info_.brand_name());
  EXPECT_EQ("https://p/", info_.setup_url());
}

TEST_F(BrandPackagesSelectionTest, APartnerPackageReadsOnlyItsPartnerDocument) {
  // A brand document inside the partner package is not the partner's to give.
  environment_.packages_by_id[320] = BuildCabinet({{"brand_config", Document("wrong")}});
  environment_.packages_by_id[319] = BuildCabinet({{"partner_config", Document("wrong")}});
  info_.GetInfo(L"");
  EXPECT_EQ("", info_.brand_id());
  EXPECT_TRUE(info_.partner_package_loaded());
  EXPECT_TRUE(info_.brand_package_loaded());
}

TEST_F(BrandPackagesSelectionTest, PackagesThatAreNotCabinetsAreStillWritten) {
  environment_.packages_by_id[320] = "not a cabinet";
  environment_.packages_by_id[319] = std::string("MSCF\0\0\0\0", 8);
  ScopedTestLog log;
  info_.GetInfo(L"");
  EXPECT_TRUE(info_.partner_package_loaded());
  EXPECT_TRUE(info_.brand_package_loaded());
  EXPECT_EQ("not a cabinet", test_support::ReadFileBytes(PartnerFile()));
  EXPECT_EQ(std::string("MSCF\0\0\0\0", 8), test_support::ReadFileBytes(BrandFile()));
  EXPECT_EQ("", info_.brand_id());
  EXPECT_TRUE(LogMessagesOf(log, L"LogBrandInfo").empty());
}

TEST_F(BrandPackagesSelectionTest, AnEmptyPartnerPackageIsAbsent) {
  environment_.packages_by_id[320] = "";
  ScopedTestLog log;
  info_.GetInfo(L"");
  EXPECT_FALSE(info_.partner_package_loaded());
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(PartnerFile().c_str()));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(BrandFile().c_str()));
  EXPECT_EQ((Lines{L"WARNING: Partner package is empty.", L"INFO: Fetching default package",
                   L"WARNING: Brand package is empty."}),
            LogMessagesOf(log, L"GetInfoFromResources"));
}

// The executable's own resources through the real environment, with the value store pointed
// at a private key.
class BrandPackagesExecutableTest : public testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryExW(test_support::BuildFile(L"lite_installer.exe").c_str(), nullptr,
                             LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(nullptr, module_) << "lite_installer.exe is not built";
    key_path_ = L"Software\\ZorvinTests\\brand-" + platform::ToWString(GetCurrentProcessId()) +
                L"-" + platform::ToWString(static_cast<unsigned long long>(GetTickCount64()));
    SetBrowserRegistryKeyPathForTesting(key_path_);
  }
  void TearDown() override {
    SetBrowserRegistryKeyPathForTesting(L"");
    RegDeleteTreeW(HKEY_CURRENT_USER, key_path_.c_str());
    if (module_ != nullptr) FreeLibrary(module_);
  }

  HMODULE module_ = nullptr;
  std::wstring key_path_;
};

TEST_F(BrandPackagesExecutableTest, DefaultPackageIsTheZorvinBrand) {
  std::unique_ptr<BrandEnvironment> environment = CreateModuleBrandEnvironment(module_);
  std::string unused;
  EXPECT_FALSE(environment->LoadPackage(320, &unused)) << "this copy carries no partner";
  EXPECT_FALSE(environment->LoadPackage(L"BRAND_ua_uk", &unused));
  std::string package;
  ASSERT_TRUE(environment->LoadPackage(319, &package));
  ASSERT_GE(package.size(), 4u);
  EXPECT_EQ("MSCF", package.substr(0, 4));

  ExtractedMembers members;
  EXPECT_TRUE(ExtractPackage(package, "", &members));
  ASSERT_EQ(1u, members.size());
  EXPECT_EQ("brand_config", members.begin()->first);
  EXPECT_EQ(test_support::ReadFileBytes(
                test_support::SourceFile(L"resources\\brand\\brand_config.json")),
            members.begin()->second);
}

TEST_F(BrandPackagesExecutableTest, GetInfoRemovesSavedValuesAndReadsTheDefaultPackage) {
  for (const wchar_t* name : {L"brand", L"BrandFile", L"PartnerFile", L"lang"}) {
    StoreValueInRegistry(platform::Narrow(name), L"from an earlier run");
  }
  std::unique_ptr<BrandEnvironment> environment = CreateModuleBrandEnvironment(module_);
  test_support::ScopedTempDir temp;
  BrandInfo info(temp.path() + L"\\");
  info.SetEnvironmentForTesting(environment.get());
  info.GetInfo(L"");
  info.ApplyDefaults();

  EXPECT_EQ(L"", ReadStringFromRegistry("brand"));
  EXPECT_EQ(L"", ReadStringFromRegistry("BrandFile"));
  EXPECT_EQ(L"", ReadStringFromRegistry("PartnerFile"));
  EXPECT_EQ(L"from an earlier run", ReadStringFromRegistry("lang"));

  EXPECT_EQ("zorvin", info.brand_id());
  EXPECT_EQ("zorvin", info.brand_name());
  EXPECT_TRUE(info.brand_package_loaded());
  EXPECT_FALSE(info.partner_package_loaded());
  std::string package;
  ASSERT_TRUE(environment->LoadPackage(319, &package));
  EXPECT_EQ(package, test_support::ReadFileBytes(temp.File(L"BrandFile")));
  EXPECT_TRUE(info.ShouldSendStatistics());
  EXPECT_TRUE(info.ShouldMakeBrowserDefault());
  EXPECT_FALSE(info.IsPpapi());
}

}  // namespace
}  // namespace installer

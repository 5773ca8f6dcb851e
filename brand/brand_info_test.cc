#include "brand/brand_info.h"

#include <map>
#include <string>
#include <vector>

#include "build_config/endpoints.h"
#include "gtest/gtest.h"
#include "tests/support/cabinet_builder.h"
#include "tests/support/fake_brand_environment.h"
#include "tests/support/log_lines.h"
#include "tests/support/test_paths.h"

namespace installer {
namespace {

using Fields = std::map<std::string, std::string>;

std::string TristateText(Tristate value) {
  switch (value) {
    case kUnset:
      return "unset";
    case kTrue:
      return "true";
    case kFalse:
      return "false";
  }
  return "invalid";
}

// Every document-fed field as text, so one comparison shows all differences at once.
Fields Snapshot(const BrandInfo& info) {
  return {
      {"setup_url", info.setup_url()},
      {"brand_id", info.brand_id()},
      {"brand_name", info.brand_name()},
      {"language", info.language()},
      {"language_id", std::to_string(info.language_id())},
      {"license_url", info.license_url()},
      {"conf_policy_url", info.conf_policy_url()},
      {"partner_id", info.partner_id()},
      {"slide_url", info.slide_url()},
      {"slide_url_if_tagged", info.slide_url_if_tagged()},
      {"variations_url", info.variations_url()},
      {"alternate_installer_title", TristateText(info.alternate_installer_title())},
      {"send_statistics", TristateText(info.send_statistics())},
      {"make_browser_default", TristateText(info.make_browser_default())},
      {"need_ppapi_flash", TristateText(info.need_ppapi_flash())},
  };
}

// A fresh record's snapshot with some fields changed.
Fields FreshWith(const Fields& changes) {
  BrandInfo fresh(L"C:\\work\\");
  Fields fields = Snapshot(fresh);
  for (const auto& [name, value] : changes) {
    EXPECT_TRUE(fields.count(name)) << "no field " << name;
    fields[name] = value;
  }
  return fields;
}

class BrandInfoTest : public testing::Test {
 protected:
  BrandInfoTest() : info_(L"C:\\work\\") { info_.SetEnvironmentForTesting(&environment_); }

  test_support::FakeBrandEnvironment environment_;
  BrandInfo info_;
};

TEST_F(BrandInfoTest, ConstructedEmpty) {
  EXPECT_EQ(L"C:\\work\\", info_.work_dir());
  EXPECT_EQ(FreshWith({}), Snapshot(info_));
  EXPECT_EQ("", info_.setup_url());
  EXPECT_EQ(1033u, info_.language_id());
  EXPECT_EQ(kUnset, info_.send_statistics());
  EXPECT_FALSE(info_.brand_package_loaded());
  EXPECT_FALSE(info_.partner_package_loaded());
  EXPECT_TRUE(info_.brand_package_path().empty());
  EXPECT_TRUE(info_.partner_package_path().empty());
}

TEST(BrandInfoTristateTest, NumericValuesAreFixed) {
  EXPECT_EQ(0u, static_cast<uint32_t>(kUnset));
  EXPECT_EQ(1u, static_cast<uint32_t>(kTrue));
  EXPECT_EQ(2u, static_cast<uint32_t>(kFalse));
  EXPECT_EQ(4u, sizeof(Tristate));
}

struct DocumentCase {
  const char* name;
  const char* json;
  Fields expected_changes;
};

TEST_F(BrandInfoTest, OneDocument) {
  const DocumentCase cases[] = {
      {"empty object", "{}", {}},
      {"not JSON", "{\"brand_id\": \"x\"", {}},
      {"empty text", "", {}},
      {"JSON null", "null", {}},
      {"array root", "[{\"brand_id\": \"x\"}]", {}},
      {"string root", "\"brand_id\"", {}},
      {"every key in its place",
       R"({"languages": {"interface": "pt-BR"}, "brand_id": "tb", "brand_name": "Tb",
           "license_url": "https://l/", "partner_id": "p1", "urls": {"variations": "https://v/"},
           "install": {"setup_url": "https://s/", "conf_policy_url": "https://c/",
                       "alternate_installer_title": true, "send_statistics": false,
                       "make_browser_default": false, "need_ppapi_flash": true,
                       "slide_url": "https://a/", "slide_url_if_tagged": "https://b/"}})",
       {{"language", "pt-BR"}, {"language_id", "1046"}, {"brand_id", "tb"}, {"brand_name", "Tb"},
        {"license_url", "https://l/"}, {"partner_id", "p1"}, {"variations_url", "https://v/"},
        {"setup_url", "https://s/"}, {"conf_policy_url", "https://c/"},
        {"alternate_installer_title", "true"}, {"send_statistics", "false"},
        {"make_browser_default", "false"}, {"need_ppapi_flash", "true"},
        {"slide_url", "https://a/"}, {"slide_url_if_tagged", "https://b/"}}},
      {"older documents: install keys at the top level",
       R"({"setup_url": "https://s/", "conf_policy_url": "https://c/",
           "alternate_installer_title": false, "send_statistics": true,
           "make_browser_default": true, "need_ppapi_flash": false,
           "slide_url": "https://a/", "slide_url_if_tagged": "https://b/"})",
       {{"setup_url", "https://s/"}, {"conf_policy_url", "https://c/"},
        {"alternate_installer_title", "false"}, {"send_statistics", "true"},
        {"make_browser_default", "true"}, {"need_ppapi_flash", "false"},
        {"slide_url", "https://a/"}, {"slide_url_if_tagged", "https://b/"}}},
      {"install section beats the top level",
       R"({"setup_url": "https://top/", "install": {"setup_url": "https://section/"}})",
       {{"setup_url", "https://section/"}}},
      {"an empty string in the section does not fall back",
       R"({"setup_url": "https://top/", "install": {"setup_url": ""}})", {}},
      {"a string where a flag belongs is unset, then the top level is asked",
       R"({"install": {"send_statistics": "false"}, "send_statistics": false})",
       {{"send_statistics", "false"}}},
      {"a string where a flag belongs, nothing at the top level",
       R"({"install": {"send_statistics": "false"}})", {}},
      {"numbers and null are not flags",
       R"({"install": {"need_ppapi_flash": 1, "make_browser_default": null,
                       "alternate_installer_title": 0}})",
       {}},
      {"a flag found in the section is not looked for again",
       R"({"install": {"make_browser_default": true}, "make_browser_default": false})",
       {{"make_browser_default", "true"}}},
      {"install that is not an object falls back",
       R"({"install": "https://nowhere/", "setup_url": "https://top/"})",
       {{"setup_url", "https://top/"}}},
      {"an object where a string belongs falls back",
       R"({"install": {"setup_url": {"url": "https://deep/"}}, "setup_url": "https://top/"})",
       {{"setup_url", "https://top/"}}},
      {"keys without the install prefix never look into the section",
       R"({"install": {"brand_id": "x", "license_url": "https://l/", "partner_id": "p"}})", {}},
      {"the dotted key is a path, not a member name",
       R"({"urls.variations": "https://v/", "languages.interface": "ru"})", {}},
      {"languages that is not an object", R"({"languages": "ru"})", {}},
      {"a language that is not a string", R"({"languages": {"interface": 1049}})", {}},
      {"an empty language leaves the field empty", R"({"languages": {"interface": ""}})", {}},
      {"a language outside the table keeps 1033",
       R"({"languages": {"interface": "en-GB"}})",
       {{"language", "en-GB"}}},
      {"language codes are case-sensitive", R"({"languages": {"interface": "RU"}})",
       {{"language", "RU"}}},
      {"a brand id that is a number", R"({"brand_id": 7, "brand_name": true})", {}},
      {"UTF-8 text is kept byte for byte",
       "{\"brand_name\": \"\xD0\x97\xD0\xBE\xD1\x80\xD0\xB2\xD0\xB8\xD0\xBD\", "
       "\"partner_id\": \"\\u00e9\"}",
       {{"brand_name", "\xD0\x97\xD0\xBE\xD1\x80\xD0\xB2\xD0\xB8\xD0\xBD"},
        {"partner_id", "\xC3\xA9"}}},
      {"an escaped NUL is refused with the whole document", R"({"brand_id": "a\u0000b"})", {}},
      {"an integer beyond 64 bits is refused with the whole document",
       R"({"brand_id": "b", "n": -9223372036854775809})", {}},
      {"the largest 64-bit integer is read", R"({"brand_id": "b", "n": 9223372036854775807})",
       {{"brand_id", "b"}}},
  };
  for (const DocumentCase& test : cases) {
    SCOPED_TRACE(test.name);
    BrandInfo info(L"C:\\work\\");
    info.SetEnvironmentForTesting(&environment_);
    info.ApplyConfigDocument(test.json);
    EXPECT_EQ(FreshWith(test.expected_changes), Snapshot(info));
  }
}

struct TwoDocumentCase {
  const char* name;
  const char* partner;
  const char* brand;
  Fields expected_changes;
};

TEST_F(BrandInfoTest, FirstWriterWins) {
  const TwoDocumentCase cases[] = {
      {"both set the setup URL", R"({"install": {"setup_url": "https://partner/"}})",
       R"({"install": {"setup_url": "https://brand/"}})", {{"setup_url", "https://partner/"}}},
      {"the partner's older top-level key still comes first", R"({"setup_url": "https://partner/"})",
       R"({"install": {"setup_url": "https://brand/"}})", {{"setup_url", "https://partner/"}}},
      {"an empty partner value leaves the field to the brand",
       R"({"brand_id": "", "install": {"setup_url": ""}})",
       R"({"brand_id": "tb", "install": {"setup_url": "https://brand/"}})",
       {{"brand_id", "tb"}, {"setup_url", "https://brand/"}}},
      {"flags", R"({"install": {"send_statistics": false}})",
       R"({"install": {"send_statistics": true, "make_browser_default": false}})",
       {{"send_statistics", "false"}, {"make_browser_default", "false"}}},
      {"a partner flag of the wrong type leaves it to the brand",
       R"({"install": {"need_ppapi_flash": "yes"}})", R"({"need_ppapi_flash": true})",
       {{"need_ppapi_flash", "true"}}},
      {"language and its identifier", R"({"languages": {"interface": "ru"}})",
       R"({"languages": {"interface": "uk"}})", {{"language", "ru"}, {"language_id", "1049"}}},
      {"partner id and brand id", R"({"partner_id": "p", "brand_id": "partner"})",
       R"({"partner_id": "q", "brand_id": "brand", "brand_name": "Brand"})",
       {{"partner_id", "p"}, {"brand_id", "partner"}, {"brand_name", "Brand"}}},
      {"variations URL", R"({"urls": {"variations": "https://p/"}})",
       R"({"urls": {"variations": "https://b/"}})", {{"variations_url", "https://p/"}}},
      {"an unparsable partner document changes nothing", "{", R"({"brand_id": "tb"})",
       {{"brand_id", "tb"}}},
  };
  for (const TwoDocumentCase& test : cases) {
    SCOPED_TRACE(test.name);
    BrandInfo info(L"C:\\work\\");
    info.SetEnvironmentForTesting(&environment_);
    info.ApplyConfigDocument(test.partner);
    info.ApplyConfigDocument(test.brand);
    EXPECT_EQ(FreshWith(test.expected_changes), Snapshot(info));
  }
}

TEST_F(BrandInfoTest, LanguageIdFollowsTheFieldEvenWhenTheDocumentCannotWriteIt) {
  info_.set_language("uk");
  info_.ApplyConfigDocument(R"({"languages": {"interface": "ru"}})");
  EXPECT_EQ("uk", info_.language());
  EXPECT_EQ(1058u, info_.language_id());
}

TEST_F(BrandInfoTest, DefaultsWithoutDocuments) {
  environment_.ui_language = "fr";
  info_.ApplyDefaults();
  std::string download = std::string("https://") + endpoints::kDownloadHost;
  std::string legal = std::string("https://") + endpoints::kLegalHost;
  EXPECT_EQ(FreshWith({{"brand_id", "zorvin"},
                       {"brand_name", "zorvin"},
                       {"setup_url", download + "/browser/zorvin/flash/browser-setup.arc"},
                       {"license_url", legal + "/browser_agreement/"},
                       {"conf_policy_url", legal + "/confidential/"},
                       {"language", "fr"},
                       {"language_id", "1036"},
                       {"variations_url", std::string("https://") + endpoints::kBrowserApiHost +
                                              "/content/get/experiments/browser.proto"}}),
            Snapshot(info_));
}

struct DefaultsCase {
  const char* name;
  const char* document;
  std::string ui_language;
  Fields expected;  // only these fields are checked
};

TEST_F(BrandInfoTest, DefaultsFillOnlyWhatIsEmpty) {
  std::string download = std::string("https://") + endpoints::kDownloadHost;
  const DefaultsCase cases[] = {
      {"PPAPI setup archive", R"({"install": {"need_ppapi_flash": true}})", "en",
       {{"setup_url", download + "/browser/zorvin/browser-setup.arc"}}},
      {"PPAPI off keeps the flash path", R"({"brand_id": "tb", "need_ppapi_flash": false})", "en",
       {{"setup_url", download + "/browser/tb/flash/browser-setup.arc"}, {"brand_name", "tb"}}},
      {"the brand id goes into the default URL",
       R"({"brand_id": "ua_uk", "install": {"need_ppapi_flash": true}})", "en",
       {{"setup_url", download + "/browser/ua_uk/browser-setup.arc"}}},
      {"a language outside the table", "{}", "en", {{"language", "en"}, {"language_id", "1033"}}},
      {"a language from the interface", "{}", "kk", {{"language", "kk"}, {"language_id", "1087"}}},
      {"an empty document language is filled", R"({"languages": {"interface": ""}})", "tr",
       {{"language", "tr"}, {"language_id", "1055"}}},
      {"document values stay",
       R"({"brand_id": "by", "brand_name": "Belarus", "license_url": "https://l/",
           "install": {"setup_url": "https://s/", "conf_policy_url": "https://c/"},
           "urls": {"variations": "https://v/"}, "languages": {"interface": "ru"}})",
       "de",
       {{"brand_id", "by"}, {"brand_name", "Belarus"}, {"license_url", "https://l/"},
        {"setup_url", "https://s/"}, {"conf_policy_url", "https://c/"},
        {"variations_url", "https://v/"}, {"language", "ru"}, {"language_id", "1049"}}},
      {"partner id and slides have no default", "{}", "en",
       {{"partner_id", ""}, {"slide_url", ""}, {"slide_url_if_tagged", ""}}},
      {"flags have no default", "{}", "en",
       {{"send_statistics", "unset"}, {"make_browser_default", "unset"},
        {"alternate_installer_title", "unset"}, {"need_ppapi_flash", "unset"}}},
  };
  for (const DefaultsCase& test : cases) {
    SCOPED_TRACE(test.name);
    environment_.ui_language = test.ui_language;
    BrandInfo info(L"C:\\work\\");
    info.SetEnvironmentForTesting(&environment_);
    info.ApplyConfigDocument(test.document);
    info.ApplyDefaults();
    Fields actual = Snapshot(info);
    for (const auto& [name, value] : test.expected) EXPECT_EQ(value, actual[name]) << name;
  }
}

TEST_F(BrandInfoTest, LangParameterReplacesTheDocumentLanguage) {
  info_.ApplyConfigDocument(R"({"languages": {"interface": "ru"}})");
  info_.set_language("uk");
  info_.ApplyDefaults();
  EXPECT_EQ("uk", info_.language());
  EXPECT_EQ(1058u, info_.language_id());
}

struct ViewCase {
  Tristate value;
  bool send_statistics;
  bool make_default;
  bool alternate_title;
  bool ppapi;
};

TEST_F(BrandInfoTest, Views) {
  const ViewCase cases[] = {
      {kUnset, true, true, false, false},
      {kTrue, true, true, true, true},
      {kFalse, false, false, false, false},
  };
  for (const ViewCase& test : cases) {
    SCOPED_TRACE(TristateText(test.value));
    info_.set_send_statistics(test.value);
    info_.set_make_browser_default(test.value);
    info_.set_alternate_installer_title(test.value);
    info_.set_need_ppapi_flash(test.value);
    EXPECT_EQ(test.send_statistics, info_.ShouldSendStatistics());
    EXPECT_EQ(test.make_default, info_.ShouldMakeBrowserDefault());
    EXPECT_EQ(test.alternate_title, info_.UseAlternateInstallerTitle());
    EXPECT_EQ(test.ppapi, info_.IsPpapi());
  }
}

TEST_F(BrandInfoTest, SummaryLines) {
  test_support::ScopedTestLog log;
  info_.ApplyConfigDocument(
      R"({"brand_id": "tb", "install": {"setup_url": "https://s/", "slide_url": "https://a/",
          "alternate_installer_title": true, "send_statistics": false,
          "need_ppapi_flash": true}, "slide_url_if_tagged": "https://b/",
          "languages": {"interface": "tr"}})");
  EXPECT_EQ((std::vector<std::wstring>{
                L"INFO: Brand id: tb",
                L"INFO: Brand name: ",
                L"INFO: Setup url: https://s/",
                L"INFO: Default language: tr",
                L"INFO: Install slide url by default: https://a/",
                L"INFO: Install slide url if tagged installer: https://b/",
                L"INFO: Show international title: 1",
                L"INFO: Send browser's statistics: 0",
                L"INFO: Make browser default after import: 1",
                L"INFO: Is ppapi: 1",
            }),
            test_support::LogMessagesOf(log, L"LogBrandInfo"));
}

TEST_F(BrandInfoTest, SummaryAfterEveryDocumentAndAfterTheDefaults) {
  test_support::ScopedTestLog log;
  EXPECT_FALSE(info_.ApplyConfigDocument("{"));
  EXPECT_TRUE(info_.ApplyConfigDocument("{}"));
  info_.ApplyDefaults();
  std::vector<std::wstring> lines = test_support::LogMessagesOf(log, L"LogBrandInfo");
  ASSERT_EQ(30u, lines.size());
  EXPECT_EQ(L"INFO: Brand id: ", lines[0]);
  EXPECT_EQ(L"INFO: Brand id: ", lines[10]);
  EXPECT_EQ(L"INFO: Brand id: zorvin", lines[20]);
  EXPECT_EQ(L"INFO: Send browser's statistics: 1", lines[27]);
}

TEST_F(BrandInfoTest, ClearKeepsVariationsWorkDirAndFlags) {
  // A work folder that exists: the brand flag is set only for a package written whole.
  test_support::ScopedTempDir work;
  BrandInfo info(work.path() + L"\\");
  info.SetEnvironmentForTesting(&environment_);
  environment_.packages_by_id[319] =
      test_support::BuildCabinet({{"brand_config", R"({"brand_id": "x"})"}});
  info.GetInfo(L"");  // writes the package, which sets the brand flag
  ASSERT_TRUE(info.brand_package_loaded());
  // Then the record full.
  info.ApplyConfigDocument(
      R"({"brand_id": "tb", "brand_name": "Tb", "partner_id": "p", "license_url": "https://l/",
          "languages": {"interface": "de"}, "urls": {"variations": "https://v/"},
          "install": {"setup_url": "https://s/", "conf_policy_url": "https://c/",
                      "slide_url": "https://a/", "slide_url_if_tagged": "https://b/",
                      "alternate_installer_title": true, "send_statistics": false,
                      "make_browser_default": true, "need_ppapi_flash": false}})");
  test_support::ScopedTestLog log;

  info.Clear();
  EXPECT_EQ(FreshWith({{"variations_url", "https://v/"}}), Snapshot(info));
  EXPECT_EQ(work.path() + L"\\", info.work_dir());
  EXPECT_TRUE(info.brand_package_loaded());
  EXPECT_EQ((std::vector<std::wstring>{L"INFO: Reset brand info."}),
            test_support::LogMessagesOf(log, L"Clear"));
}

TEST_F(BrandInfoTest, ReadConfigTakesTheNamedMemberOnly) {
  std::string package = test_support::BuildCabinet(
      {{"partner_config", R"({"brand_id": "partner"})"},
       {"brand_config", R"({"brand_id": "brand", "partner_id": "p"})"}});
  info_.ReadConfig(package, "brand_config");
  EXPECT_EQ("brand", info_.brand_id());
  EXPECT_EQ("p", info_.partner_id());
}

TEST_F(BrandInfoTest, ReadConfigWithoutTheMemberLogsNothing) {
  test_support::ScopedTestLog log;
  info_.ReadConfig(test_support::BuildCabinet({{"brand_config", R"({"brand_id": "b"})"}}),
                   "partner_config");
  info_.ReadConfig("not a cabinet", "brand_config");
  info_.ReadConfig("", "brand_config");
  EXPECT_EQ(FreshWith({}), Snapshot(info_));
  EXPECT_TRUE(test_support::LogMessagesOf(log, L"LogBrandInfo").empty());
}

TEST_F(BrandInfoTest, ReadConfigWithAnUnparsableMemberStillLogsTheSummary) {
  test_support::ScopedTestLog log;
  info_.ReadConfig(test_support::BuildCabinet({{"brand_config", "{\"brand_id\": "}}),
                   "brand_config");
  EXPECT_EQ(FreshWith({}), Snapshot(info_));
  EXPECT_EQ(10u, test_support::LogMessagesOf(log, L"LogBrandInfo").size());
}

}  // namespace
}  // namespace installer

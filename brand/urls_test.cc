#include "brand/urls.h"

#include <gtest/gtest.h>

#include "build_config/endpoints.h"
#include "platform/strings.h"
#include "tests/support/test_log.h"

namespace installer {
namespace {

const std::string kDownload = std::string("https://") + endpoints::kDownloadHost;
constexpr wchar_t kDeprecated[] =
    L"WARNING: GetInstallerSlideUrl (";
constexpr wchar_t kDeprecatedText[] =
    L"): Deprecated. Use brand package for setting \"slide_url\" and \"slide_url_if_tagged\" "
    L"in \"install\" section\n";

TEST(InstallerSlideUrlTest, ChoosesByTaggedFlag) {
  struct Case {
    const char* name;
    std::string slide_url;
    std::string slide_url_if_tagged;
    std::string language;
    bool tagged;
    std::string expected;
    bool warns;
  } cases[] = {
      {"untagged uses slide_url", "https://s/plain", "https://s/tagged", "ru", false,
       "https://s/plain", false},
      {"tagged uses slide_url_if_tagged", "https://s/plain", "https://s/tagged", "ru", true,
       "https://s/tagged", false},
      {"tagged never falls back to slide_url", "https://s/plain", "", "ru", true,
       kDownload + "/browser/installer/custom/ru/", true},
      {"untagged does not take the tagged slide", "", "https://s/tagged", "ru", false,
       kDownload + "/browser/installer/ru/", true},
      {"untagged russian default", "", "", "ru", false, kDownload + "/browser/installer/ru/", true},
      {"tagged russian default", "", "", "ru", true, kDownload + "/browser/installer/custom/ru/",
       true},
      {"custom only for exactly ru", "", "", "uk", true, kDownload + "/browser/installer/uk/", true},
      {"case matters", "", "", "RU", true, kDownload + "/browser/installer/RU/", true},
      {"pt-BR kept as is", "", "", "pt-BR", false, kDownload + "/browser/installer/pt-BR/", true},
      {"empty language", "", "", "", false, kDownload + "/browser/installer//", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test_support::ScopedTestLog log;
    BrandInfo brand(L"C:\\temp\\");
    brand.set_slide_url(c.slide_url);
    brand.set_slide_url_if_tagged(c.slide_url_if_tagged);
    brand.set_language(c.language);
    EXPECT_EQ(c.expected, GetInstallerSlideUrl(brand, c.tagged));
    EXPECT_EQ(c.warns ? 1 : 0, log.CountLines(kDeprecated));
    EXPECT_EQ(c.warns, log.Contains(kDeprecatedText));
  }
}

TEST(RegionalSiteTest, BrandIdTable) {
  struct Case {
    std::string brand_id;
    RegionalSite expected;
  } cases[] = {
      {"by", RegionalSite::kBelarusian},   {"int", RegionalSite::kInternational},
      {"tb", RegionalSite::kTurkish},      {"ua", RegionalSite::kUkrainian},
      {"ua-uk", RegionalSite::kUkrainian}, {"ua-ru", RegionalSite::kUkrainian},
      {"zorvin", RegionalSite::kRussian},  {"", RegionalSite::kRussian},
      {"ua_uk", RegionalSite::kRussian},   {"ua_ru", RegionalSite::kRussian},
      {"UA", RegionalSite::kRussian},      {"by ", RegionalSite::kRussian},
      {"tr", RegionalSite::kRussian},      {"intl", RegionalSite::kRussian},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.brand_id);
    EXPECT_EQ(c.expected, RegionalSiteForBrandId(c.brand_id));
  }
  EXPECT_STREQ(endpoints::kSiteRuHost, RegionalSiteHost(RegionalSite::kRussian));
  EXPECT_STREQ(endpoints::kSiteByHost, RegionalSiteHost(RegionalSite::kBelarusian));
  EXPECT_STREQ(endpoints::kSiteIntHost, RegionalSiteHost(RegionalSite::kInternational));
  EXPECT_STREQ(endpoints::kSiteTrHost, RegionalSiteHost(RegionalSite::kTurkish));
  EXPECT_STREQ(endpoints::kSiteUaHost, RegionalSiteHost(RegionalSite::kUkrainian));
}

TEST(FallbackDownloadUrlTest, ForwardsExactlyTheTwelveKeysInKeyOrder) {
  struct Case {
    const char* name;
    std::string brand_id;
    DistribInfoParams::ParamMap params;
    std::string expected_query;
  } cases[] = {
      {"no parameters", "zorvin", {}, "full=1&code=lite_install_failed"},
      {"partner_id forwarded, win10pin not", "zorvin",
       {{"partner_id", "p7"}, {"win10pin", "1"}},
       "partner_id=p7&full=1&code=lite_install_failed"},
      {"every forwarded key, ascending",
       "by",
       {{"zvpartner_id", "12"}, {"tablo", "t"}, {"partner_id", "p"}, {"lang", "ru"},
        {"football", "f"}, {"expcalypso", "e"}, {"custo", "c"}, {"calypso", "k"},
        {"bgid", "b"}, {"betacusto", "bc"}, {"beta", "1"}, {"banerid", "777"}},
       "banerid=777&beta=1&betacusto=bc&bgid=b&calypso=k&custo=c&expcalypso=e&football=f&"
       "lang=ru&partner_id=p&tablo=t&zvpartner_id=12&full=1&code=lite_install_failed"},
      {"ordinary values unchanged, the others escaped, a lang that is no code left out", "int",
       {{"lang", "pt%2DBR"}, {"custo", "a+b=c/d?e%41"}, {"beta", ""}, {"bgid", "a b&c"}},
       "beta=&bgid=a%20b%26c&custo=a+b=c/d?e%41&full=1&code=lite_install_failed"},
      {"near misses are not forwarded", "tb",
       {{"Lang", "ru"}, {"partner", "x"}, {"partnerid", "y"}, {"banner", "2"}, {"stat", "1"},
        {"zorvinuid", "u"}, {"", "empty"}, {"lang ", "z"}},
       "full=1&code=lite_install_failed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BrandInfo brand(L"C:\\temp\\");
    brand.set_brand_id(c.brand_id);
    DistribInfoParams params;
    params.SetParamsForTesting(c.params);
    const std::string expected = std::string("https://") +
                                 RegionalSiteHost(RegionalSiteForBrandId(c.brand_id)) +
                                 "/download?" + c.expected_query;
    EXPECT_EQ(expected, GetFallbackDownloadUrl(brand, params));
  }
}

TEST(FallbackDownloadUrlTest, UnderscoreBrandGoesToTheRussianSite) {
  BrandInfo brand(L"C:\\temp\\");
  brand.set_brand_id("ua_uk");
  DistribInfoParams params;
  EXPECT_EQ(std::string("https://") + endpoints::kSiteRuHost +
                "/download?full=1&code=lite_install_failed",
            GetFallbackDownloadUrl(brand, params));
}

TEST(LicenseLinkUrlTest, AppendsTheLanguage) {
  struct Case {
    std::string license_url;
    std::string language;
    std::wstring expected;
  } cases[] = {
      {"https://legal.example/browser_agreement/", "ru",
       L"https://legal.example/browser_agreement/?lang=ru"},
      {"https://legal.example/a", "pt-BR", L"https://legal.example/a?lang=pt-BR"},
      // The page's UTF-8 is decoded; text that is not UTF-8 is widened byte by byte.
      {"https://l/\xC3\xA9", "", L"https://l/\x00E9?lang="},
      {"https://l/\xE9", "", L"https://l/\x00E9?lang="},
      {"", "tr", L"?lang=tr"},
  };
  for (const Case& c : cases) {
    BrandInfo brand(L"C:\\temp\\");
    brand.set_license_url(c.license_url);
    brand.set_language(c.language);
    EXPECT_EQ(c.expected, GetLicenseLinkUrl(brand));
  }
}

// The tag lies outside the signature: whatever a value holds, each URL stays one argument of a
// browser whose handler is registered as "program" "%1".
TEST(TagValuesInUrlsTest, AreEscapedInEveryUrl) {
  const std::string long_quotes(65535, '"');
  std::string long_escaped;
  for (size_t i = 0; i < long_quotes.size(); ++i) long_escaped += "%22";
  const struct {
    std::string value;
    std::string escaped;
  } cases[] = {
      {"pt-BR", "pt-BR"}, {"a+b=c/d?e~_.!*()$,;:@", "a+b=c/d?e~_.!*()$,;:@"},
      {"en\" --acc-injected=1 \"x", "en%22%20--acc-injected=1%20%22x"},
      {"a'b<c>d\\e^f`g{h|i}j#k&l", "a%27b%3Cc%3Ed%5Ce%5Ef%60g%7Bh%7Ci%7Dj%23k%26l"},
      {std::string("\t\r\n\x01\0\x1F\x7F", 7), "%09%0D%0A%01%00%1F%7F"},
      {"\xD1\x80\xD1\x83", "%D1%80%D1%83"}, {"\xFF\xC3", "%FF%C3"}, {"%41%e9%2", "%41%e9%252"},
      {"100% %zz %", "100%25%20%25zz%20%25"}, {long_quotes, long_escaped},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.escaped.substr(0, 60));
    EXPECT_EQ(c.escaped, EscapeUrlValue(c.value));
    BrandInfo brand(L"C:\\temp\\");
    brand.set_license_url("https://legal.example/agreement/");
    brand.set_conf_policy_url("https://legal.example/privacy/");
    brand.set_language(c.value);
    DistribInfoParams params;
    params.SetParamsForTesting({{"lang", c.value}, {"custo", c.value}});
    const std::wstring urls[] = {
        GetLicenseLinkUrl(brand), GetPrivacyLinkUrl(brand),
        platform::Widen(GetFallbackDownloadUrl(brand, params)),
        platform::Widen(GetInstallerSlideUrl(brand, false))};
    for (const std::wstring& url : urls) {
      for (wchar_t ch : url) ASSERT_TRUE(ch > 0x20 && ch < 0x7F && ch != L'"') << int{ch};
    }
  }
  // Where the escaped language stands (the fallback page's values: its own test).
  BrandInfo brand(L"C:\\temp\\");
  brand.set_license_url("https://legal.example/agreement/");
  brand.set_language("%41%e9%2");
  EXPECT_EQ(L"https://legal.example/agreement/?lang=%41%e9%252", GetLicenseLinkUrl(brand));
  EXPECT_EQ(kDownload + "/browser/installer/%41%e9%252/", GetInstallerSlideUrl(brand, false));
}

}  // namespace
}  // namespace installer

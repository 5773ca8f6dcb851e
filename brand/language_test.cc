#include "brand/language.h"

#include "gtest/gtest.h"

namespace installer {
namespace {

struct CodeCase {
  const char* code;
  uint32_t lang_id;
};

TEST(BrandLanguageTest, IdentifierOfEveryCode) {
  const CodeCase cases[] = {
      {"ru", 1049},    {"uk", 1058},    {"tr", 1055},    {"de", 1031},   {"es", 3082},
      {"fr", 1036},    {"it", 1040},    {"ja", 1041},    {"pt-PT", 2070}, {"pt-BR", 1046},
      {"zh-CN", 2052}, {"zh-TW", 1028}, {"kk", 1087},    {"cs", 1029},
      // Everything else is English.
      {"en", 1033},    {"", 1033},      {"RU", 1033},    {"pt-br", 1033}, {"pt", 1033},
      {"zh", 1033},    {" ru", 1033},   {"ru ", 1033},   {"en-US", 1033}, {"es-MX", 1033},
      {"russian", 1033},
  };
  for (const CodeCase& test : cases) {
    EXPECT_EQ(test.lang_id, LanguageIdFromCode(test.code)) << '"' << test.code << '"';
  }
}

TEST(BrandLanguageTest, EmbeddedNulIsNotAShorterCode) {
  EXPECT_EQ(1033u, LanguageIdFromCode(std::string_view("ru\0x", 4)));
  EXPECT_EQ(1033u, LanguageIdFromCode(std::string_view("ru\0", 3)));
}

struct LangIdCase {
  uint32_t lang_id;
  const char* code;
};

TEST(BrandLanguageTest, CodeOfEveryInterfaceLanguage) {
  const LangIdCase cases[] = {
      {1028, "zh-TW"}, {1029, "cs"},    {1031, "de"}, {1036, "fr"}, {1040, "it"},
      {1041, "ja"},    {1046, "pt-BR"}, {1049, "ru"}, {1055, "tr"}, {1058, "uk"},
      {1087, "kk"},    {2052, "zh-CN"}, {2070, "pt-PT"}, {3082, "es"},
      // Only exact identifiers match.
      {1033, "en"},    {2057, "en"},    {2058, "en"}, {1034, "en"}, {0, "en"},
      {0x0019, "en"},  // Russian without a sub-language
      {0x0819, "en"},  // Russian (Moldova)
      {0x0C04, "en"},  // Chinese (Hong Kong)
      {0x1004, "en"},  // Chinese (Singapore)
      {0x10419, "en"}, // a sort identifier above the language bits
      {0xFFFFFFFF, "en"},
  };
  for (const LangIdCase& test : cases) {
    EXPECT_EQ(test.code, UiLanguageCodeFromLangId(test.lang_id)) << test.lang_id;
  }
}

TEST(BrandLanguageTest, TheTwoTablesAgree) {
  const char* codes[] = {"ru", "uk", "tr", "de", "es", "fr", "it", "ja", "pt-PT", "pt-BR",
                         "zh-CN", "zh-TW", "kk", "cs"};
  for (const char* code : codes) {
    EXPECT_EQ(code, UiLanguageCodeFromLangId(LanguageIdFromCode(code)));
  }
  EXPECT_EQ(1033u, LanguageIdFromCode(UiLanguageCodeFromLangId(1033)));
}

TEST(BrandLanguageTest, DefaultIsOneOfTheInterfaceCodes) {
  std::string code = DefaultUiLanguage();
  EXPECT_TRUE(code == "en" || LanguageIdFromCode(code) != 1033) << code;
}

}  // namespace
}  // namespace installer

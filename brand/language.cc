#include "brand/language.h"

#include <windows.h>


namespace installer {
namespace {

struct LanguageEntry {
  const char* code;
  uint32_t lang_id;
};

// Both directions use the same fourteen pairs; Kazakh has an identifier but no string table.
constexpr LanguageEntry kLanguages[] = {
    {"ru", 1049},    {"uk", 1058},    {"tr", 1055},    {"de", 1031},    {"es", 3082},
    {"fr", 1036},    {"it", 1040},    {"ja", 1041},    {"pt-PT", 2070}, {"pt-BR", 1046},
    {"zh-CN", 2052}, {"zh-TW", 1028}, {"kk", 1087},    {"cs", 1029},
};

constexpr uint32_t kEnglishLangId = 1033;

}  // namespace

uint32_t LanguageIdFromCode(std::string_view code) {
  for (const LanguageEntry& entry : kLanguages) {
    if (code == entry.code) return entry.lang_id;
  }
  return kEnglishLangId;
}

std::string UiLanguageCodeFromLangId(uint32_t lang_id) {
  for (const LanguageEntry& entry : kLanguages) {
    if (lang_id == entry.lang_id) return entry.code;
  }
  return "en";
}

std::string DefaultUiLanguage() {
  return UiLanguageCodeFromLangId(GetUserDefaultUILanguage());
}

}  // namespace installer

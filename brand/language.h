// Interface language codes of the installer and their Windows language identifiers.
//
// The installer speaks fourteen languages besides English; a code outside the table means
// English (1033). The lookups are exact and case-sensitive ("pt-BR", not "pt-br").
#ifndef BRAND_LANGUAGE_H_
#define BRAND_LANGUAGE_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace installer {

// The Windows language identifier of an interface language code; 1033 for anything else,
// the empty code included.
uint32_t LanguageIdFromCode(std::string_view code);

// The interface language code for an exact Windows language identifier; "en" for any other
// (2057 English-UK and 2058 Spanish-Mexico give "en").
std::string UiLanguageCodeFromLangId(uint32_t lang_id);

// `UiLanguageCodeFromLangId(GetUserDefaultUILanguage())`.
std::string DefaultUiLanguage();

}  // namespace installer

#endif  // BRAND_LANGUAGE_H_

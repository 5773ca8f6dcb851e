// Localized texts of the installer window, from the string tables in the installer's own
// resources (ids 400 to 441, one table per interface language).
//
// The lookup asks for one exact language: there is no fallback to English or to the
// user's language, so a language without a table (Kazakh, 1087) gives empty texts.
#ifndef BRAND_LOCALIZED_STRINGS_H_
#define BRAND_LOCALIZED_STRINGS_H_

#include <cstdint>
#include <string>

namespace installer {

// String `id` of the table of `language_id` in the installer's own module; empty when the
// block, the table or the entry is missing or the entry is empty.
std::wstring LoadLocalizedString(uint32_t id, uint32_t language_id);

}  // namespace installer

#endif  // BRAND_LOCALIZED_STRINGS_H_

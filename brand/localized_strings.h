// Localized texts of the installer window, from the string tables in the installer's own
// resources (ids 400 to 441, one table per interface language).
//
// The lookup asks for one exact language. A language the module has no table for at all
// (Kazakh, 1087) reads the English table instead; a table that lacks a block or an entry
// keeps its gap (empty text), and the user's own language is never consulted.
#ifndef BRAND_LOCALIZED_STRINGS_H_
#define BRAND_LOCALIZED_STRINGS_H_

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace installer {

// The table of a language the module has none for (Kazakh, say): English.
inline constexpr uint16_t kFallbackLanguageId = 1033;

// String `id` of the table of `language_id` in the installer's own module, or of the
// kFallbackLanguageId table when the module has no table in that language at all; empty
// when the block or the entry is missing or the entry is empty.
std::wstring LoadLocalizedString(uint32_t id, uint32_t language_id);

// The same lookup in `module` (an image or a file loaded as a data file).
std::wstring LoadLocalizedStringFromModule(HMODULE module, uint32_t id, uint32_t language_id);

// Entry `index` (0 to 15) of one string-table block: sixteen counted UTF-16 strings, each a
// 16-bit length followed by that many characters. Empty when the block ends before the
// entry or the entry is empty. `block` is the resource data as raw bytes.
std::wstring StringFromTableBlock(std::string_view block, uint32_t index);

}  // namespace installer

#endif  // BRAND_LOCALIZED_STRINGS_H_

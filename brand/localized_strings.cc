#include "brand/localized_strings.h"

#include <utility>

namespace installer {
namespace {

// String tables are stored in blocks of sixteen strings; block (id / 16) + 1 holds id.
constexpr uint32_t kStringsPerBlock = 16;

BOOL CALLBACK MatchLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR wanted) {
  auto* match = reinterpret_cast<std::pair<WORD, bool>*>(wanted);
  if (language != match->first) return TRUE;
  match->second = true;
  return FALSE;  // found: stop the enumeration
}

// Whether the module holds the block in exactly this language. FindResourceExW alone is not
// enough: Wine (and Windows for neutral sub-languages) falls back to another language's
// block when the requested one is missing.
bool HasBlockInLanguage(HMODULE module, uint32_t block_id, WORD language) {
  std::pair<WORD, bool> match(language, false);
  ::EnumResourceLanguagesW(module, MAKEINTRESOURCEW(6) /* RT_STRING */,
                           MAKEINTRESOURCEW(block_id), MatchLanguage,
                           reinterpret_cast<LONG_PTR>(&match));
  return match.second;
}

struct TableSearch {
  HMODULE module;
  WORD language;
  bool found;
};

BOOL CALLBACK FindBlockInLanguage(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR context) {
  auto* search = reinterpret_cast<TableSearch*>(context);
  if (!IS_INTRESOURCE(name)) return TRUE;
  search->found = HasBlockInLanguage(search->module, static_cast<uint32_t>(
                                                         reinterpret_cast<ULONG_PTR>(name)),
                                     search->language);
  return search->found ? FALSE : TRUE;
}

// Whether the module has a string table in `language` at all (any block of it).
bool HasTableInLanguage(HMODULE module, WORD language) {
  TableSearch search = {module, language, false};
  ::EnumResourceNamesW(module, MAKEINTRESOURCEW(6) /* RT_STRING */, FindBlockInLanguage,
                       reinterpret_cast<LONG_PTR>(&search));
  return search.found;
}

uint16_t ReadLittleEndian16(std::string_view bytes, size_t offset) {
  return static_cast<uint16_t>(static_cast<uint8_t>(bytes[offset]) |
                               (static_cast<uint8_t>(bytes[offset + 1]) << 8));
}

}  // namespace

std::wstring StringFromTableBlock(std::string_view block, uint32_t index) {
  if (index >= kStringsPerBlock) return std::wstring();
  size_t offset = 0;
  for (uint32_t entry = 0;; ++entry) {
    if (offset > block.size() || block.size() - offset < 2) return std::wstring();
    const size_t length = ReadLittleEndian16(block, offset);
    offset += 2;
    if (length * 2 > block.size() - offset) return std::wstring();
    if (entry == index) {
      std::wstring text(length, L'\0');
      for (size_t i = 0; i < length; ++i) {
        text[i] = static_cast<wchar_t>(ReadLittleEndian16(block, offset + 2 * i));
      }
      return text;
    }
    offset += length * 2;
  }
}

std::wstring LoadLocalizedStringFromModule(HMODULE module, uint32_t id, uint32_t language_id) {
  const uint32_t block_id = id / kStringsPerBlock + 1;
  // A block id above 0xFFFF cannot be expressed as an integer resource name.
  if (block_id > 0xFFFF || language_id > 0xFFFF) return std::wstring();
  WORD language = static_cast<WORD>(language_id);
  if (!HasBlockInLanguage(module, block_id, language)) {
    // A language the installer has no table for at all reads the English one; a table that
    // lacks a block keeps its gap.
    if (language == kFallbackLanguageId || HasTableInLanguage(module, language)) {
      return std::wstring();
    }
    language = kFallbackLanguageId;
    if (!HasBlockInLanguage(module, block_id, language)) return std::wstring();
  }
  HRSRC resource = ::FindResourceExW(module, MAKEINTRESOURCEW(6) /* RT_STRING */,
                                     MAKEINTRESOURCEW(block_id), language);
  if (resource == nullptr) return std::wstring();
  const DWORD size = ::SizeofResource(module, resource);
  HGLOBAL loaded = ::LoadResource(module, resource);
  if (loaded == nullptr || size == 0) return std::wstring();
  const void* data = ::LockResource(loaded);
  if (data == nullptr) return std::wstring();
  return StringFromTableBlock(std::string_view(static_cast<const char*>(data), size),
                              id % kStringsPerBlock);
}

std::wstring LoadLocalizedString(uint32_t id, uint32_t language_id) {
  return LoadLocalizedStringFromModule(::GetModuleHandleW(nullptr), id, language_id);
}

}  // namespace installer

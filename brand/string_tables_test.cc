// The string tables of the built executable, read the way the window reads them: one block
// of one exact language at a time.
#include <windows.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "brand/localized_strings.h"
#include "gtest/gtest.h"
#include "tests/support/test_paths.h"

namespace {

const WORD kLanguages[] = {1028, 1029, 1031, 1033, 1036, 1040, 1041,
                           1046, 1049, 1055, 1058, 2052, 2070, 3082};
constexpr UINT kFirstId = 400;
constexpr UINT kLastId = 441;

class BrandStringTablesTest : public testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryExW(test_support::BuildFile(L"lite_installer.exe").c_str(), nullptr,
                             LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(nullptr, module_) << "lite_installer.exe is not built";
  }
  void TearDown() override {
    if (module_ != nullptr) FreeLibrary(module_);
  }

  // Entry `id` of the block of exactly `language`; empty when the block or entry is missing.
  std::wstring Load(UINT id, WORD language) const {
    HRSRC info = FindResourceExW(module_, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
    if (info == nullptr) return std::wstring();
    HGLOBAL loaded = LoadResource(module_, info);
    const WCHAR* data = static_cast<const WCHAR*>(LockResource(loaded));
    size_t size = SizeofResource(module_, info) / sizeof(WCHAR);
    size_t at = 0;
    for (UINT entry = 0; entry < id % 16; ++entry) {
      if (at >= size) return std::wstring();
      at += 1 + data[at];
    }
    if (at >= size || at + 1 + data[at] > size) return std::wstring();
    return std::wstring(data + at + 1, data[at]);
  }

  HMODULE module_ = nullptr;
};

size_t Count(const std::wstring& text, const std::wstring& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::wstring::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR found) {
  reinterpret_cast<std::set<WORD>*>(found)->insert(language);
  return TRUE;
}

TEST_F(BrandStringTablesTest, BlocksExistInExactlyTheFourteenLanguages) {
  std::set<WORD> expected(std::begin(kLanguages), std::end(kLanguages));
  for (UINT block = kFirstId / 16 + 1; block <= kLastId / 16 + 1; ++block) {
    SCOPED_TRACE(block);
    std::set<WORD> found;
    EnumResourceLanguagesW(module_, RT_STRING, MAKEINTRESOURCEW(block), CollectLanguage,
                           reinterpret_cast<LONG_PTR>(&found));
    EXPECT_EQ(expected, found);
  }
}

TEST_F(BrandStringTablesTest, EveryLanguageHasEveryEnglishText) {
  for (UINT id = kFirstId; id <= kLastId; ++id) {
    std::wstring english = Load(id, 1033);
    // 407 stands in no table; every other id has an English text.
    EXPECT_EQ(id != 407, !english.empty()) << id;
    // Kazakh, which has no table, shows the English texts.
    EXPECT_EQ(english, installer::LoadLocalizedStringFromModule(module_, id, 1087)) << id;
    for (WORD language : kLanguages) {
      SCOPED_TRACE(testing::Message() << "id " << id << ", language " << language);
      std::wstring text = Load(id, language);
      EXPECT_EQ(english.empty(), text.empty());
      // The layout of the dialogs relies on the same line breaks; the time texts on "%i".
      EXPECT_EQ(Count(english, L"\n"), Count(text, L"\n"));
      EXPECT_EQ(Count(english, L"%i"), Count(text, L"%i"));
      EXPECT_EQ(Count(english, L"%"), Count(text, L"%"));
      EXPECT_EQ(std::wstring::npos, text.find(L"\\n")) << "an escape left unconverted";
    }
  }
}

TEST_F(BrandStringTablesTest, LicenceSentenceHasOneLink) {
  for (WORD language : kLanguages) {
    SCOPED_TRACE(language);
    std::wstring text = Load(410, language);
    ASSERT_EQ(1u, Count(text, L"((")) << "one link opening";
    ASSERT_EQ(1u, Count(text, L"))")) << "one link closing";
    size_t open = text.find(L"((");
    size_t close = text.find(L"))");
    EXPECT_LT(open + 2, close) << "a non-empty link between the markers";
  }
}

TEST_F(BrandStringTablesTest, CheckBoxesKeepOneMnemonic) {
  for (WORD language : kLanguages) {
    std::wstring text = Load(438, language);
    EXPECT_EQ(1u, Count(text, L"&")) << language;
    EXPECT_EQ(std::wstring::npos, text.find(L"&", text.size() - 1)) << language;
  }
}

TEST_F(BrandStringTablesTest, BrandNameStays) {
  for (WORD language : kLanguages) {
    SCOPED_TRACE(language);
    EXPECT_EQ(L"Zorvin", Load(435, language));
    EXPECT_EQ(L"Zorvin Browser", Load(436, language));
    for (UINT id : {401u, 410u, 411u, 417u, 437u, 439u, 440u}) {
      EXPECT_NE(std::wstring::npos, Load(id, language).find(L"Zorvin")) << id;
    }
  }
}

struct KnownText {
  UINT id;
  WORD language;
  const wchar_t* text;
};

TEST_F(BrandStringTablesTest, KnownTexts) {
  const KnownText cases[] = {
      {401, 1033, L"Zorvin Browser Installation"},
      {434, 1033, L"Your processor does not support SSE2."},
      {439, 1033, L"Unable to install Zorvin Browser on your computer."},
      {410, 1033,
       L"By using Zorvin Browser, you agree to the Terms and Conditions of the ((License "
       L"Agreement))."},
      {422, 1033,
       L"The old version of the program \"CryptoPro \nRevocation Provider\" is installed on your "
       L"computer.\nPlease update it in order to\ninstall Zorvin Browser."},
      {438, 1033, L"&Set as default browser"},
      {405, 1033, L"Less than %i mins left"},
      {433, 1033, L"Less than %i secs left"},
      // Non-ASCII texts survive the resource compiler's UTF-8 reading.
      {404, 1049, L"\u0423\u0441\u0442\u0430\u043D\u043E\u0432\u0438\u0442\u044C"},
      {421, 1041, L"\u30AD\u30E3\u30F3\u30BB\u30EB"},
      {416, 1031, L"Schlie\u00DFen"},
  };
  for (const KnownText& test : cases) {
    EXPECT_EQ(test.text, Load(test.id, test.language)) << test.id << " / " << test.language;
  }
}

TEST_F(BrandStringTablesTest, TranslationsAreNotEnglishCopies) {
  // Only the brand texts and button words shared across languages may equal English.
  const std::set<UINT> may_match = {423, 435, 436};
  for (WORD language : kLanguages) {
    if (language == 1033) continue;
    int same = 0;
    for (UINT id = kFirstId; id <= kLastId; ++id) {
      if (may_match.count(id) || id == 407) continue;
      if (Load(id, language) == Load(id, 1033)) ++same;
    }
    EXPECT_EQ(0, same) << language;
  }
}

}  // namespace

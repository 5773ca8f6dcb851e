#include "brand/localized_strings.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "platform/scoped_handle.h"
#include "tests/support/test_paths.h"

namespace installer {
namespace {

// Little-endian 16-bit units as the bytes of a string-table block.
std::string Block(std::initializer_list<uint16_t> units) {
  std::string bytes;
  for (uint16_t unit : units) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

TEST(StringFromTableBlockTest, WalksCountedStrings) {
  // Entries: 0 "ab", 1 empty, 2 "\x0416", 3..15 empty.
  const std::string block = Block({2, 'a', 'b', 0, 1, 0x0416, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  struct Case {
    uint32_t index;
    std::wstring expected;
  } cases[] = {
      {0, L"ab"}, {1, L""}, {2, L"\x0416"}, {3, L""}, {15, L""}, {16, L""}, {0xFFFFFFFF, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    EXPECT_EQ(c.expected, StringFromTableBlock(block, c.index));
  }
}

TEST(StringFromTableBlockTest, TruncatedBlocksNeverReadPastTheEnd) {
  struct Case {
    const char* name;
    std::string block;
    uint32_t index;
    std::wstring expected;
  } cases[] = {
      {"empty block", "", 0, L""},
      {"one byte", std::string(1, '\x02'), 0, L""},
      {"length past end", Block({3, 'a', 'b'}), 0, L""},
      {"odd trailing byte", Block({2, 'a'}) + "b", 0, L""},
      {"exact fit", Block({2, 'a', 'b'}), 0, L"ab"},
      {"later entry cut off", Block({1, 'a'}), 1, L""},
      {"huge length", Block({0xFFFF, 'a'}), 0, L""},
      {"entry after huge skip", Block({0xFFFF, 'a'}), 1, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.expected, StringFromTableBlock(c.block, c.index));
  }
}

class LocalizedStringsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    module_.reset(LoadLibraryExW(test_support::BuildFile(L"test_programs\\resource_fixture.dll").c_str(),
                                 nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(module_.is_valid()) << "resource_fixture.dll is not built";
  }

  platform::ScopedModule module_;
};

TEST_F(LocalizedStringsTest, ExactLanguageOnly) {
  struct Case {
    uint32_t id;
    uint32_t language;
    std::wstring expected;
  } cases[] = {
      {400, 1033, L"Installing"},
      {401, 1033, L"Installer"},
      {415, 1033, L"Last of its block"},
      {416, 1033, L"First of the next block"},
      {441, 1033, L"Installation complete"},
      {400, 1049, L"\x0423\x0441\x0442\x0430\x043D\x043E\x0432\x043A\x0430"},
      {416, 1049, L"\x041F\x0435\x0440\x0432\x0430\x044F \x0441\x0442\x0440\x043E\x043A\x0430 "
                  L"\x0431\x043B\x043E\x043A\x0430"},
      {441, 1055, L"Kurulum tamamland\x0131"},
      // Present in English, absent from the Russian block: no fallback inside the block.
      {402, 1049, L""},
      // The Turkish table has no block 27 at all.
      {416, 1055, L""},
      // An id inside an existing block that has no entry.
      {405, 1033, L""},
      // No block for these ids in any language.
      {1000, 1033, L""},
      {0, 1033, L""},
      {0xFFFFFFFF, 1033, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.id << "/" << c.language);
    EXPECT_EQ(c.expected, LoadLocalizedStringFromModule(module_.get(), c.id, c.language));
  }
}

TEST_F(LocalizedStringsTest, LanguagesWithoutATableReadTheEnglishOne) {
  // Kazakh (the default of every Kazakh-language Windows), Ukrainian and German have no table
  // in the fixture: English stands in, entry for entry, gaps included.
  for (uint32_t language : {1087u, 1058u, 1031u, 0u}) {
    SCOPED_TRACE(language);
    for (uint32_t id : {400u, 401u, 405u, 416u, 441u, 1000u}) {
      EXPECT_EQ(LoadLocalizedStringFromModule(module_.get(), id, 1033),
                LoadLocalizedStringFromModule(module_.get(), id, language))
          << id;
    }
  }
  EXPECT_EQ(L"Installing", LoadLocalizedStringFromModule(module_.get(), 400, 1087));
}

TEST(LoadLocalizedStringTest, OwnModuleWithoutTablesGivesEmptyTexts) {
  // The test program carries no string tables.
  EXPECT_EQ(L"", LoadLocalizedString(400, 1033));
  EXPECT_EQ(L"", LoadLocalizedString(441, 1049));
}

}  // namespace
}  // namespace installer

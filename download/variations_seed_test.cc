#include "download/variations_seed.h"

#include <string>

#include <gtest/gtest.h>

#include "platform/file_path.h"
#include "platform/file_util.h"
#include "tests/support/test_log.h"
#include "tests/support/test_paths.h"

namespace installer {
namespace {

TEST(VariationsSeedTest, SavedFileIsOneCompactObjectInFixedOrder) {
  struct Case {
    VariationsSeed seed;
    std::string expected;
  };
  const Case cases[] = {
      {{"hello", "sig", "Tue, 01 Jan 2030 00:00:00 GMT", "ru"},
       "{\"variations_seed_base64\": \"aGVsbG8=\", \"variations_seed_signature\": \"sig\", "
       "\"variations_last_modified_time\": \"Tue, 01 Jan 2030 00:00:00 GMT\", "
       "\"variations_country\": \"ru\"}"},
      // Headers that were absent are empty strings; so is the Base64 of an empty body.
      {{"", "s", "", ""},
       "{\"variations_seed_base64\": \"\", \"variations_seed_signature\": \"s\", "
       "\"variations_last_modified_time\": \"\", \"variations_country\": \"\"}"},
      // Binary bodies: the standard alphabet, "/" and "+" written as they are, "=" fill.
      {{std::string("\x00\xff\xfe\xfb", 4), "a", "b", "c"},
       "{\"variations_seed_base64\": \"AP/++w==\", \"variations_seed_signature\": \"a\", "
       "\"variations_last_modified_time\": \"b\", \"variations_country\": \"c\"}"},
      // JSON escapes keep the file on one line; UTF-8 stays UTF-8.
      {{"x", "q\"b\\\n", "\t", "\xd0\xa0\xd0\xa4"},
       "{\"variations_seed_base64\": \"eA==\", \"variations_seed_signature\": \"q\\\"b\\\\\\n\", "
       "\"variations_last_modified_time\": \"\\t\", \"variations_country\": "
       "\"\xd0\xa0\xd0\xa4\"}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    test_support::ScopedTempDir dir;
    test_support::ScopedTestLog log;
    platform::FilePath target(dir.File(L"vup1.tmp"));
    SaveVariations(target, c.seed);
    EXPECT_EQ(c.expected, test_support::ReadFileBytes(target.value()));
    EXPECT_EQ(L"", log.Text());
  }
}

TEST(VariationsSeedTest, ValueThatIsNotUtf8WritesNothing) {
  struct Case {
    VariationsSeed seed;
    std::wstring line;
  };
  const Case cases[] = {
      {{"body", "\xff\xfe", "", ""},
       L"): Failed to serialize variations value variations_seed_signature: \xff\xfe "},
      {{"body", "sig", "Mon\x80", ""},
       L"): Failed to serialize variations value variations_last_modified_time: Mon\x80 "},
      {{"body", "sig", "", "\xc3"},
       L"): Failed to serialize variations value variations_country: \xc3 "},
      // The first bad value stops the walk.
      {{"body", "\xc0\xaf", "ok", "\xff"},
       L"): Failed to serialize variations value variations_seed_signature: \xc0\xaf "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    test_support::ScopedTempDir dir;
    test_support::ScopedTestLog log;
    platform::FilePath target(dir.File(L"vup2.tmp"));
    SaveVariations(target, c.seed);
    EXPECT_FALSE(platform::IsPresent(target));
    EXPECT_EQ(1, log.CountLines(L"ERROR: SaveVariations ("));
    EXPECT_EQ(1, log.CountLines(c.line)) << log.Text();
  }
}

TEST(VariationsSeedTest, UnwritableTargetIsLogged) {
  test_support::ScopedTempDir dir;
  test_support::ScopedTestLog log;
  platform::FilePath target(dir.File(L"no such folder\\vup3.tmp"));
  SaveVariations(target, {"body", "sig", "", ""});
  EXPECT_FALSE(platform::IsPresent(target));
  EXPECT_EQ(1, log.CountLines(L"ERROR: SaveVariations ("));
  EXPECT_TRUE(log.Contains(L"): Failed to save downloaded variations update to " +
                           target.value() + L" "));
}

TEST(VariationsSeedTest, TargetUnderANonAsciiFolderName) {
  test_support::ScopedTempDir dir;
  platform::FilePath folder(dir.File(L"\x041f\x043e\x043b\x044c\x0437\x043e\x0432\x0430\x0442\x0435\x043b\x044c"));
  ASSERT_TRUE(CreateDirectoryW(folder.value().c_str(), nullptr));
  platform::FilePath target = folder.Append(L"vup4.tmp");
  SaveVariations(target, {"", "s", "", ""});
  EXPECT_EQ(
      "{\"variations_seed_base64\": \"\", \"variations_seed_signature\": \"s\", "
      "\"variations_last_modified_time\": \"\", \"variations_country\": \"\"}",
      test_support::ReadFileBytes(target.value()));
}

}  // namespace
}  // namespace installer

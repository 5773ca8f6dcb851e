#include "platform/strings.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace platform {
namespace {

constexpr uint64_t kAllBits = std::numeric_limits<uint64_t>::max();

TEST(StringsTest, StringToUint64FollowsTheFailureRules) {
  struct Case {
    const char* text;
    bool ok;
    uint64_t value;
  };
  const Case cases[] = {
      {"0", true, 0},
      {"42", true, 42},
      {"007", true, 7},
      {"+42", true, 42},
      {"18446744073709551615", true, kAllBits},
      // Leading white space is skipped, but the conversion reports failure.
      {" 42", false, 42},
      {"\t\n\v\f\r42", false, 42},
      {" +42", false, 42},
      // A leading minus fails with 0.
      {"-1", false, 0},
      {"-0", false, 0},
      {" -5", false, 0},
      // Only one plus sign.
      {"++1", false, 0},
      {"+-1", false, 0},
      // The first non-digit stops the conversion and keeps what was read.
      {"12ab", false, 12},
      {"12 ", false, 12},
      {"1.5", false, 1},
      {"x", false, 0},
      // Overflow fails with all bits set.
      {"18446744073709551616", false, kAllBits},
      {"99999999999999999999999", false, kAllBits},
      // Empty text, or nothing after the sign or the white space.
      {"", false, 0},
      {"+", false, 0},
      {"   ", false, 0},
  };
  for (const Case& c : cases) {
    uint64_t value = 12345;
    EXPECT_EQ(c.ok, StringToUint64(std::string_view(c.text), &value)) << '"' << c.text << '"';
    EXPECT_EQ(c.value, value) << '"' << c.text << '"';
    // The wide form follows the same rules.
    uint64_t wide_value = 12345;
    EXPECT_EQ(c.ok, StringToUint64(std::wstring_view(Widen(c.text)), &wide_value)) << c.text;
    EXPECT_EQ(c.value, wide_value) << c.text;
  }
  // A wide character whose low byte is a digit is still not a digit.
  uint64_t value = 0;
  EXPECT_FALSE(StringToUint64(std::wstring_view(L"1\x0132"), &value));
  EXPECT_EQ(1u, value);
}

TEST(StringsTest, StringToInt32TakesTheWholeTextOnly) {
  struct Case {
    const char* text;
    bool ok;
    int32_t value;
  };
  const Case cases[] = {
      {"0", true, 0},
      {"2", true, 2},
      {"-1", true, -1},
      {"+7", true, 7},
      {"2147483647", true, 2147483647},
      {"-2147483648", true, -2147483647 - 1},
      {"2147483648", false, 99},
      {"-2147483649", false, 99},
      {"99999999999999999999", false, 99},
      {"", false, 99},
      {"-", false, 99},
      {" 1", false, 99},
      {"1 ", false, 99},
      {"1x", false, 99},
  };
  for (const Case& c : cases) {
    int32_t value = 99;
    EXPECT_EQ(c.ok, StringToInt32(std::string_view(c.text), &value)) << c.text;
    EXPECT_EQ(c.value, value) << c.text;
    int32_t wide_value = 99;
    EXPECT_EQ(c.ok, StringToInt32(std::wstring_view(Widen(c.text)), &wide_value)) << c.text;
    EXPECT_EQ(c.value, wide_value) << c.text;
  }
}

TEST(StringsTest, NumbersAsText) {
  EXPECT_EQ("0", ToString(0));
  EXPECT_EQ("-1", ToString(-1));
  EXPECT_EQ("-9223372036854775808", ToString(std::numeric_limits<long long>::min()));
  EXPECT_EQ("18446744073709551615", ToString(std::numeric_limits<unsigned long long>::max()));
  EXPECT_EQ("4294967295", ToString(0xFFFFFFFFu));
  EXPECT_EQ("-2147483648", ToString(static_cast<long>(-2147483647L - 1)));
  EXPECT_EQ(L"12345", ToWString(12345));
  EXPECT_EQ(L"-42", ToWString(-42L));
  EXPECT_EQ(L"18446744073709551615",
            ToWString(std::numeric_limits<unsigned long long>::max()));
  EXPECT_EQ("0", ToHexString(0));
  EXPECT_EQ("ff", ToHexString(255));
  EXPECT_EQ("1000", ToHexString(4096));
  EXPECT_EQ("ffffffffffffffff", ToHexString(kAllBits));
  EXPECT_EQ("0000000000000000", ToHex16(0));
  EXPECT_EQ("00000000000000ff", ToHex16(255));
  EXPECT_EQ("0123456789abcdef", ToHex16(0x0123456789abcdefULL));
  EXPECT_EQ("ffffffffffffffff", ToHex16(kAllBits));
}

TEST(StringsTest, WidenAndNarrowAreByteWise) {
  EXPECT_EQ(std::wstring(L"a\x00E9\x00FF"), Widen(std::string("a\xE9\xFF")));
  EXPECT_EQ(std::wstring(L"a\0b", 3), Widen(std::string("a\0b", 3)));
  // Narrowing keeps the low 8 bits of each character.
  EXPECT_EQ(std::string("a\x41\xE9", 3), Narrow(L"a\x0141\x00E9"));
  EXPECT_EQ(std::string("\x3A", 1), Narrow(L"\x263A"));
  EXPECT_EQ("", Narrow(L""));
  std::string all_bytes;
  for (int i = 0; i < 256; ++i) all_bytes.push_back(static_cast<char>(i));
  EXPECT_EQ(all_bytes, Narrow(Widen(all_bytes)));
}

TEST(StringsTest, Utf8ConversionsAcceptValidText) {
  struct Case {
    std::string utf8;
    std::wstring wide;
  };
  const Case cases[] = {
      {"", L""},
      {"plain ascii", L"plain ascii"},
      {"\xC3\xA9", L"\x00E9"},
      {"\xD0\x97\xD0\xBE\xD1\x80", L"\x0417\x043E\x0440"},
      {"\xE2\x82\xAC", L"\x20AC"},
      {"\xEF\xBF\xBF", L"\xFFFF"},
      {"\xF0\x9F\x98\x80", L"\xD83D\xDE00"},
      {"\xF4\x8F\xBF\xBF", L"\xDBFF\xDFFF"},
      {std::string("a\0b", 3), std::wstring(L"a\0b", 3)},
  };
  for (const Case& c : cases) {
    std::wstring wide;
    EXPECT_TRUE(Utf8ToWide(c.utf8, &wide)) << c.utf8;
    EXPECT_EQ(c.wide, wide) << c.utf8;
    std::string utf8;
    EXPECT_TRUE(WideToUtf8(c.wide, &utf8)) << c.utf8;
    EXPECT_EQ(c.utf8, utf8);
    EXPECT_TRUE(IsValidUtf8(c.utf8)) << c.utf8;
  }
}

TEST(StringsTest, Utf8ConversionsRejectInvalidTextAndLeaveTheOutputAlone) {
  const std::string bad_utf8[] = {
      "\x80",                  // continuation without a lead byte
      "\xC3",                  // truncated
      "a\xE2\x82",             // truncated three-byte sequence
      "\xC0\xAF",              // overlong "/"
      "\xE0\x80\xAF",          // overlong three-byte form
      "\xF0\x82\x82\xAC",      // overlong four-byte form
      "\xED\xA0\x80",          // a surrogate encoded directly
      "\xF4\x90\x80\x80",      // above U+10FFFF
      "\xF8\x88\x80\x80\x80",  // five-byte form
      "\xFF",
      "\xC3\x28",              // bad continuation
  };
  for (const std::string& text : bad_utf8) {
    std::wstring wide = L"untouched";
    EXPECT_FALSE(Utf8ToWide(text, &wide));
    EXPECT_EQ(L"untouched", wide);
    EXPECT_FALSE(IsValidUtf8(text));
  }
  const std::wstring bad_wide[] = {
      std::wstring(L"\xD800"),           // lone high surrogate at the end
      std::wstring(L"\xD800x"),          // high surrogate without its pair
      std::wstring(L"\xDC00"),           // lone low surrogate
      std::wstring(L"a\xDE00\xD83D"),    // pair in the wrong order
  };
  for (const std::wstring& text : bad_wide) {
    std::string utf8 = "untouched";
    EXPECT_FALSE(WideToUtf8(text, &utf8));
    EXPECT_EQ("untouched", utf8);
  }
}

TEST(StringsTest, ToLowerAsciiChangesOnlyAsciiLetters) {
  struct Case {
    const char* text;
    const char* lower;
  };
  const Case cases[] = {
      {"", ""},
      {"ABC xyz", "abc xyz"},
      {"Brand-Name", "brand-name"},
      {"@[`{", "@[`{"},  // the neighbours of A-Z and a-z
      {"\xC3\x89", "\xC3\x89"},
      {"MiXeD123", "mixed123"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.lower, ToLowerAscii(std::string_view(c.text))) << c.text;
    EXPECT_EQ(Widen(c.lower), ToLowerAscii(std::wstring_view(Widen(c.text)))) << c.text;
  }
  // Non-ASCII wide letters keep their case.
  EXPECT_EQ(L"\x00C9\x0416z", ToLowerAscii(std::wstring_view(L"\x00C9\x0416Z")));
}

}  // namespace
}  // namespace platform

#include "platform/url_escape.h"

#include <gtest/gtest.h>

#include <string>

namespace platform {
namespace {

struct EscapeCase {
  const wchar_t* input;
  const wchar_t* expected;
};

TEST(UrlEscapeTest, EscapesOneSegment) {
  const EscapeCase kCases[] = {
      {L"", L""},
      {L"plain", L"plain"},
      {L"two words", L"two%20words"},
      {L"a/b", L"a%2Fb"},
      {L"page?x=1", L"page%3Fx=1"},
      {L"frag#top", L"frag%23top"},
      {L"https://host/p?q=1#f", L"https:%2F%2Fhost%2Fp%3Fq=1%23f"},
      {L"a\"b<c>d", L"a%22b%3Cc%3Ed"},
      {L"{8c1e2d3f-0000}", L"%7B8c1e2d3f-0000%7D"},
      // Segment escaping leaves "%" alone, so already escaped text keeps its escapes.
      {L"50%25", L"50%25"},
  };
  for (const EscapeCase& c : kCases) {
    EXPECT_EQ(std::wstring(c.expected), EscapeUrl(c.input)) << c.input;
  }
}

TEST(UrlEscapeTest, EscapesNonAsciiCharacters) {
  // Non-ASCII text goes out as percent-escaped UTF-8, never as raw wide characters.
  EXPECT_EQ(L"%D1%84%D0%B0%D0%B9%D0%BB", EscapeUrl(L"\x0444\x0430\x0439\x043B"));
  EXPECT_EQ(L"caf%C3%A9%20%E2%82%AC", EscapeUrl(L"caf\x00E9 \x20AC"));
}

TEST(UrlEscapeTest, TooLongResultGivesEmpty) {
  // 700 spaces escape to 2100 characters, more than the buffer holds.
  EXPECT_EQ(L"", EscapeUrl(std::wstring(700, L' ')));
  // Just inside the limit: 694 * 3 = 2082 characters plus the terminator.
  EXPECT_EQ(2082u, EscapeUrl(std::wstring(694, L' ')).size());
}

struct HostCase {
  const wchar_t* url;
  const wchar_t* host;
};

TEST(UrlEscapeTest, ExtractsHostOfCanonicalUrl) {
  const HostCase kCases[] = {
      {L"https://cdn.example.test/browser/setup.arc", L"cdn.example.test"},
      {L"http://mirror.example.test:8080/a?b=c", L"mirror.example.test"},
      {L"https://user:pw@dl.example.test/", L"dl.example.test"},
      {L"https://dl.example.test/a b/c", L"dl.example.test"},
      {L"", L""},
      {L"not a url", L""},
      {L"setup.arc", L""},
  };
  for (const HostCase& c : kCases) {
    EXPECT_EQ(std::wstring(c.host), ExtractUrlHost(c.url)) << c.url;
  }
}

}  // namespace
}  // namespace platform

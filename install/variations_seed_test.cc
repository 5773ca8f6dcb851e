#include "install/variations_seed.h"

#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/base64.h"
#include "platform/file_path.h"
#include "platform/file_util.h"
#include "platform/strings.h"
#include "platform/sync.h"
#include "tests/support/publisher_log.h"
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
       // U+0080 is a control character: the log writes it escaped.
       L"): Failed to serialize variations value variations_last_modified_time: Mon\\x80 "},
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

// The setup may read the seed at any moment: a write that fails leaves no partial file at
// the path, nor a temporary one beside it.
TEST(VariationsSeedTest, FailedWriteLeavesNothingHalfWritten) {
  test_support::ScopedTempDir dir;
  test_support::ScopedTestLog log;
  // A folder where the file should go: the whole file is written, and its move then fails.
  platform::FilePath target(dir.File(L"vup5.tmp"));
  ASSERT_TRUE(CreateDirectoryW(target.value().c_str(), nullptr));
  SaveVariations(target, {"seed", "sig", "", ""});
  EXPECT_TRUE(log.Contains(L"Failed to save downloaded variations update to " + target.value()));
  EXPECT_TRUE(GetFileAttributesW(target.value().c_str()) & FILE_ATTRIBUTE_DIRECTORY);
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(dir.File(L"*").c_str(), &found);
  ASSERT_NE(INVALID_HANDLE_VALUE, search);
  std::vector<std::wstring> names;
  do {
    if (found.cFileName[0] != L'.') names.push_back(found.cFileName);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  EXPECT_EQ(std::vector<std::wstring>{L"vup5.tmp"}, names);
  // An earlier file at the path is replaced whole.
  platform::FilePath file(dir.File(L"vup6.tmp"));
  SaveVariations(file, {"first", "sig", "", ""});
  SaveVariations(file, {"second", "sig", "", ""});
  EXPECT_EQ("{\"variations_seed_base64\": \"c2Vjb25k\", \"variations_seed_signature\": \"sig\", "
            "\"variations_last_modified_time\": \"\", \"variations_country\": \"\"}",
            test_support::ReadFileBytes(file.value()));
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

// ---------------------------------------------------------------------------------------
// Against the fake publisher.

namespace installer {
namespace {

constexpr char kSeedPath[] = "/content/get/experiments/browser.proto";

// The seed and headers the fake publisher sends by default.
const std::string kPublisherSeed("zorvin-variations-seed\x00\x01\x02\xfe\xff", 27);
constexpr char kPublisherSignature[] = "c2lnbmF0dXJlLWZvci10ZXN0cw==";
constexpr char kPublisherLastModified[] = "Tue, 01 Dec 2026 10:00:00 GMT";

std::string SeedFile(const std::string& signature, const std::string& last_modified,
                     const std::string& country) {
  return "{\"variations_seed_base64\": \"" + platform::Base64Encode(kPublisherSeed) +
         "\", \"variations_seed_signature\": \"" + signature +
         "\", \"variations_last_modified_time\": \"" + last_modified +
         "\", \"variations_country\": \"" + country + "\"}";
}

TEST(VariationsSeedTest, FetchFromThePublisher) {
  struct Case {
    std::string faults;  // "/f/<faults>" path prefix, or empty
    bool cancelled;
    std::string expected;  // file contents; empty: no file
  };
  const Case cases[] = {
      {"", false, SeedFile(kPublisherSignature, kPublisherLastModified, "xx")},
      {"/f/omit=Last-Modified;X-Country", false, SeedFile(kPublisherSignature, "", "")},
      {"/f/omit=X-Seed-Signature", false, ""},
      {"/f/status=404", false, ""},
      {"", true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.faults + (c.cancelled ? " cancelled" : ""));
    test_support::ScopedTempDir dir;
    test_support::ScopedTestLog log;
    std::string marker = test_support::UniqueMarker();
    platform::FilePath target(dir.File(L"vup5.tmp"));
    platform::WaitableEvent cancel(platform::WaitableEvent::ResetPolicy::kManual,
                                   platform::WaitableEvent::InitialState::kNotSignaled);
    if (c.cancelled) cancel.Set();
    FetchVariationsSeed(test_support::PublisherUrl(c.faults + kSeedPath + "?" + marker), target,
                        &cancel);
    // A download stopped before it began sends nothing.
    EXPECT_EQ(c.cancelled ? 0u : 1u,
              test_support::PublisherRequestsWith(marker, c.cancelled ? 0 : 1).size());
    if (c.expected.empty()) {
      EXPECT_FALSE(platform::IsPresent(target));
    } else {
      EXPECT_EQ(c.expected, test_support::ReadFileBytes(target.value()));
    }
    EXPECT_FALSE(log.Contains(L"SaveVariations"));
  }
}

TEST(VariationsSeedTest, SignatureHeaderThatIsNotUtf8) {
  test_support::ScopedTempDir dir;
  test_support::ScopedTestLog log;
  std::string marker = test_support::UniqueMarker();
  // "//4=" is the bytes FF FE.
  ASSERT_TRUE(test_support::AddPublisherScript(
      std::string("{\"path\": \"") + kSeedPath + "\", \"query_contains\": \"" + marker +
      "\", \"responses\": [{\"headers_b64\": {\"X-Seed-Signature\": \"//4=\"}}]}"));
  platform::FilePath target(dir.File(L"vup6.tmp"));
  platform::WaitableEvent cancel(platform::WaitableEvent::ResetPolicy::kManual,
                                 platform::WaitableEvent::InitialState::kNotSignaled);
  FetchVariationsSeed(test_support::PublisherUrl(std::string(kSeedPath) + "?" + marker), target,
                      &cancel);
  EXPECT_FALSE(platform::IsPresent(target));
  EXPECT_EQ(1, log.CountLines(
                   L"): Failed to serialize variations value variations_seed_signature: \xff\xfe "))
      << log.Text();
}

}  // namespace
}  // namespace installer

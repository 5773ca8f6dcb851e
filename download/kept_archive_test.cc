// The kept download's record: what a later run may trust of a folder its user controls.
#include "download/kept_archive.h"

#include <gtest/gtest.h>

#include <string>

#include "download/download_sink.h"

namespace installer {
namespace {

constexpr char kUrl[] = "https://example.test/browser-setup.arc";
constexpr int64_t kDayUs = int64_t{24} * 3600 * 1000000;
constexpr int64_t kNow = 13400000000000000;  // microseconds since 1601, in 2025

TEST(KeptArchiveTest, RecordsAreReadBackOnlyWithinTheirBounds) {
  const KeptArchiveRecord record = {kUrl, "\"abc-1\"", 1000, kNow};
  const std::string text = FormatKeptArchiveRecord(record);
  EXPECT_EQ("url=https://example.test/browser-setup.arc\nvalidator=\"abc-1\"\ntotal=1000\n"
            "time=13400000000000000\n",
            text);
  KeptArchiveRecord parsed;
  ASSERT_TRUE(ParseKeptArchiveRecord(text, &parsed));
  EXPECT_EQ(record.url, parsed.url);
  EXPECT_EQ(record.validator, parsed.validator);
  EXPECT_EQ(record.total, parsed.total);
  EXPECT_EQ(record.time_us, parsed.time_us);

  const std::string tail = "\ntotal=1000\ntime=1\n";
  const std::string url = std::string("url=") + kUrl + "\nvalidator=";
  struct Case {
    std::string text;
    bool ok;
  } cases[] = {
      {url + tail, true},                              // no validator
      {url + "Tue, 01 Dec 2026 10:00:00 GMT" + tail, true},
      {url + "W/\"weak\"" + tail, false},
      {url + "\"a\"\r" + tail, false},
      {"url=file:///c:/x.exe\nvalidator=" + tail, false},
      {"url=https://" + std::string(kMaxKeptUrlChars, 'a') + "\nvalidator=" + tail, false},
      {"url=https://a\x01\nvalidator=" + tail, false},
      {url + "\ntotal=0\ntime=1\n", false},
      {url + "\ntotal=" + std::to_string(uint64_t{kMaxArchiveBytes} + 1) + "\ntime=1\n", false},
      {url + "\ntotal=01000\ntime=1\n", false},
      {url + "\ntotal=-1\ntime=1\n", false},
      {url + "\ntotal=1000\ntime=99999999999999999999\n", false},
      {url + "\ntotal=1000\ntime=1", false},          // cut short
      {url + tail + "extra=1\n", false},
      {"validator=\n" + url + tail, false},           // out of order
      {url + tail + std::string(kMaxKeptRecordBytes, '\n'), false},
      {"", false},
  };
  for (const Case& c : cases) {
    KeptArchiveRecord out = {"untouched", "", 7, 7};
    EXPECT_EQ(c.ok, ParseKeptArchiveRecord(c.text, &out)) << c.text.substr(0, 80);
    if (!c.ok) EXPECT_EQ("untouched", out.url);
  }
}

TEST(KeptArchiveTest, KeptBytesFitOnlyTheSameUrlWithinAWeek) {
  const KeptArchiveRecord record = {kUrl, "\"v\"", 1000, kNow};
  struct Case {
    const char* name;
    std::string url;
    uint64_t held;
    int64_t now;
    bool fits;
  } cases[] = {
      {"half", kUrl, 500, kNow, true},
      {"six days on", kUrl, 500, kNow + 6 * kDayUs, true},
      {"eight days on", kUrl, 500, kNow + 8 * kDayUs, false},
      {"written two days ahead", kUrl, 500, kNow - 2 * kDayUs, false},
      {"another URL", std::string(kUrl) + "?v=2", 500, kNow, false},
      {"nothing held", kUrl, 0, kNow, false},
      {"all held", kUrl, 1000, kNow, false},
      {"more than the total", kUrl, 1001, kNow, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.fits, KeptArchiveFits(record, c.url, c.held, c.now)) << c.name;
  }
}

}  // namespace
}  // namespace installer

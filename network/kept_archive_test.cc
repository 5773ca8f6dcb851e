// The kept download's record: what a later run may trust of a folder its user controls.
#include "network/kept_archive.h"

#include <gtest/gtest.h>

#include <string>

namespace installer {
namespace {

constexpr char kUrl[] = "https://example.test/a.arc";
constexpr int64_t kDayUs = int64_t{24} * 3600 * 1000000;
constexpr int64_t kNow = 13400000000000000;  // microseconds since 1601

TEST(KeptArchiveTest, ARecordIsTakenOnlyWithinItsBoundsAndForTheSameUrlWithinAWeek) {
  const KeptArchiveRecord record = {kUrl, "\"v-1\"", 1000, kNow};
  KeptArchiveRecord read;
  ASSERT_TRUE(ParseKeptArchiveRecord(FormatKeptArchiveRecord(record), &read));
  EXPECT_TRUE(read.url == record.url && read.validator == record.validator &&
              read.total == record.total && read.time_us == record.time_us);
  const std::string url = std::string("url=") + kUrl + "\nvalidator=";
  const std::string tail = "\ntotal=1000\ntime=1\n";
  const std::pair<std::string, bool> texts[] = {
      {url + tail, true},
      {url + "Tue, 01 Dec 2026 10:00:00 GMT" + tail, true},
      {url + "W/\"weak\"" + tail, false},
      {url + "\"a\"\r" + tail, false},
      {"url=file:///c:/x.exe\nvalidator=" + tail, false},
      {"url=https://" + std::string(kMaxKeptUrlChars, 'a') + "\nvalidator=" + tail, false},
      {url + "\ntotal=0\ntime=1\n", false},
      {url + "\ntotal=1073741825\ntime=1\n", false},  // above the archive's cap
      {url + "\ntotal=01000\ntime=1\n", false},
      {url + "\ntotal=1000\ntime=99999999999999999999\n", false},
      {url + "\ntotal=1000\ntime=1", false},
      {url + tail + "extra=1\n", false},
      {"validator=\n" + url + tail, false},
  };
  for (const auto& [text, ok] : texts) {
    KeptArchiveRecord out = {"untouched", "", 7, 7};
    EXPECT_EQ(ok, ParseKeptArchiveRecord(text, &out)) << text.substr(0, 60);
    if (!ok) EXPECT_EQ("untouched", out.url);
  }
  const struct {
    std::string url;
    uint64_t held;
    int64_t now;
    bool fits;
  } runs[] = {
      {kUrl, 500, kNow + 6 * kDayUs, true},   {kUrl, 500, kNow + 8 * kDayUs, false},
      {kUrl, 500, kNow - 2 * kDayUs, false},  {std::string(kUrl) + "?v=2", 500, kNow, false},
      {kUrl, 0, kNow, false},                 {kUrl, 1000, kNow, false},
  };
  for (const auto& run : runs) {
    EXPECT_EQ(run.fits, KeptArchiveFits(record, run.url, run.held, run.now))
        << run.url << " " << run.held << " " << run.now;
  }
}

}  // namespace
}  // namespace installer

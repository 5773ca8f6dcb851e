#include "ui/slides.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "brand/distrib_info_params.h"
#include "platform/scoped_handle.h"
#include "platform/strings.h"
#include "tests/support/dialog_driver.h"
#include "tests/support/log_lines.h"
#include "tests/support/publisher_log.h"
#include "tests/support/test_log.h"
#include "tests/support/ui_canvas.h"
#include "ui/scale.h"

namespace installer {
namespace {

TEST(SlideNamesTest, FileNamesAndUrls) {
  struct Case {
    uint32_t number;
    const wchar_t* name;
  };
  const Case cases[] = {{2, L"02.jpg"},  {3, L"03.jpg"},   {9, L"09.jpg"},
                        {10, L"10.jpg"}, {11, L"11.jpg"},  {99, L"99.jpg"},
                        {100, L"100.jpg"}, {0, L"00.jpg"}, {1, L"01.jpg"}};
  for (const Case& c : cases) EXPECT_EQ(SlideFileName(c.number), c.name) << c.number;
  EXPECT_EQ(SlideUrl(L"https://host/browser/installer/custom/ru/", 9),
            L"https://host/browser/installer/custom/ru/x2/09.jpg");
  EXPECT_EQ(SlideUrl(L"https://host/slides/", 10), L"https://host/slides/x2/10.jpg");
}

TEST(SlideOrderTest, StartIndexFromBanner) {
  struct Case {
    const char* banner;  // null: no parameter
    uint32_t start;
  };
  const Case cases[] = {{nullptr, 1}, {"", 1},    {"0", 1},   {"1", 1},  {"2", 1},
                        {"3", 2},     {"10", 9},  {"-3", 1},  {"abc", 1}, {"3x", 1},
                        {" 3", 1},    {"99999999999", 1}};
  for (const Case& c : cases) {
    std::string value = c.banner != nullptr ? c.banner : "";
    EXPECT_EQ(SlideStartIndex(c.banner != nullptr ? &value : nullptr), c.start)
        << (c.banner != nullptr ? c.banner : "(none)");
  }
  DistribInfoParams params;
  params.SetParamsForTesting({{"banner", "3"}});
  EXPECT_EQ(SlideStartIndexFromParams(params), 2u);
  params.SetParamsForTesting({{"lang", "ru"}});
  EXPECT_EQ(SlideStartIndexFromParams(params), 1u);
}

TEST(SlideOrderTest, NextIndex) {
  EXPECT_EQ(NextSlideIndex(0, 1), 1u);
  EXPECT_EQ(NextSlideIndex(0, 2), 2u);
  EXPECT_EQ(NextSlideIndex(1, 2), 2u);
  EXPECT_EQ(NextSlideIndex(2, 2), 3u);
  EXPECT_EQ(NextSlideIndex(7, 1), 8u);
}

// Slides told apart by their widths: slide i is (i + 1) × 10 pixels wide.
class FakeSlides : public SlideSource {
 public:
  explicit FakeSlides(int count) {
    for (int i = 0; i < count; ++i) {
      test_support::MemoryCanvas canvas((i + 1) * 10, 5, RGB(i * 20, 0, 0));
      HBITMAP copy = static_cast<HBITMAP>(
          CopyImage(GetCurrentObject(canvas.dc(), OBJ_BITMAP), IMAGE_BITMAP, 0, 0,
                    LR_CREATEDIBSECTION));
      slides_.push_back(ResourceBitmap(copy));
      DeleteObject(copy);
    }
  }
  ResourceBitmap GetSlide(uint32_t index) override {
    if (slides_.empty()) return ResourceBitmap();
    return slides_[index % slides_.size()];
  }
  void Add(int count) {
    FakeSlides more(static_cast<int>(slides_.size()) + count);
    slides_ = more.slides_;
  }

 private:
  std::vector<ResourceBitmap> slides_;
};

class FakeClock : public SlideClock {
 public:
  uint32_t NowMs() override { return now; }
  uint32_t now = 5000;
};

int SlideNumber(const ResourceBitmap& slide) { return slide.pixel_width() / 10 - 1; }

struct Step {
  uint32_t advance_ms;
  bool changed;
  uint32_t index;
  int slide;
};

void RunSteps(SlideShow& show, FakeClock& clock, const std::vector<Step>& steps,
              const char* name) {
  int step_number = 0;
  for (const Step& step : steps) {
    clock.now += step.advance_ms;
    EXPECT_EQ(show.Tick(), step.changed) << name << " step " << step_number;
    EXPECT_EQ(show.current_index(), step.index) << name << " step " << step_number;
    EXPECT_EQ(SlideNumber(show.current_slide()), step.slide) << name << " step " << step_number;
    ++step_number;
  }
}

TEST(SlideShowTest, BannerThreeShowsSlideTwoSecond) {
  test_support::UiTestEnvironment environment;
  FakeSlides slides(5);
  FakeClock clock;
  const std::string banner = "3";
  SlideShow show(&slides, &clock, SlideStartIndex(&banner), SIZE{728, 400});
  RunSteps(show, clock,
           {{0, true, 0, 0},        // the first slide is new: paint once
            {20, false, 0, 0},      {9979, false, 0, 0},
            {1, true, 2, 2},        // ten seconds later: slide 2
            {20, false, 2, 2},      {9980, true, 3, 3},
            {10000, true, 4, 4},    {10000, true, 5, 0},  // index 5 of 5 slides held
            {10000, true, 6, 1},    {10000, true, 7, 2}},
           "banner 3");
}

TEST(SlideShowTest, CyclesOverTheSlidesHeldAtEachMove) {
  test_support::UiTestEnvironment environment;
  FakeSlides slides(1);
  FakeClock clock;
  SlideShow show(&slides, &clock, 1, SIZE{728, 400});
  // Only the first slide: the show keeps returning to it.
  RunSteps(show, clock, {{0, true, 0, 0}, {10000, true, 1, 0}, {10000, true, 2, 0}},
           "one slide");
  slides.Add(3);  // four held now
  RunSteps(show, clock, {{10000, true, 3, 3}, {10000, true, 4, 0}, {10000, true, 5, 1}},
           "four slides");
}

TEST(SlideShowTest, SurvivesTheTickCounterWrapping) {
  test_support::UiTestEnvironment environment;
  FakeSlides slides(3);
  FakeClock clock;
  clock.now = 0xFFFFFFFFu - 3000;
  SlideShow show(&slides, &clock, 1, SIZE{728, 400});
  RunSteps(show, clock, {{0, true, 0, 0}, {9999, false, 0, 0}, {1, true, 1, 1}}, "wrap");
}

TEST(SlideShowTest, DrawsTheSlideAtTheBottomLeftOnWhite) {
  test_support::UiTestEnvironment environment;
  FakeSlides slides(1);  // 10 x 5, black
  FakeClock clock;
  SlideShow show(&slides, &clock, 1, SIZE{40, 20});
  test_support::MemoryCanvas canvas(40, 20, RGB(255, 0, 255));
  show.Draw(canvas.dc());
  EXPECT_EQ(canvas.CountDifferent(RECT{0, 15, 10, 20}, RGB(0, 0, 0), 0), 0);
  EXPECT_EQ(canvas.CountDifferent(RECT{0, 0, 40, 15}, RGB(255, 255, 255), 0), 0);
  EXPECT_EQ(canvas.CountDifferent(RECT{10, 15, 40, 20}, RGB(255, 255, 255), 0), 0);
}

TEST(FirstSlideTest, PictureAndTextsOnWhite) {
  test_support::UiTestEnvironment environment;
  platform::ScopedFont heading(CreateFontW(ScaledFontHeight(28), 0, 0, 0, FW_NORMAL, FALSE,
                                           FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0, 0, L"Arial"));
  platform::ScopedFont text(CreateFontW(ScaledFontHeight(15), 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                                        FALSE, DEFAULT_CHARSET, 0, 0, 0, 0, L"Arial"));
  FirstSlideContent content = LoadFirstSlideContent(1033, heading.get(), text.get());
  ASSERT_FALSE(content.heading.empty());
  ASSERT_FALSE(content.text.empty());
  const ResourceBitmap slide = DrawFirstSlide(content);
  ASSERT_FALSE(slide.empty());
  const int width = ScaleLength(728);
  const int height = ScaleLength(400);
  EXPECT_EQ(slide.width(), width);
  EXPECT_EQ(slide.height(), height);

  test_support::MemoryCanvas canvas(width, height, RGB(255, 0, 255));
  slide.Draw(canvas.dc(), RECT{0, 0, width, height});
  // White at the top-left, the picture (351 x 268 design pixels) at the bottom-left.
  EXPECT_EQ(canvas.CountDifferent(RECT{0, 0, ScaleLength(300), ScaleLength(100)},
                                  RGB(255, 255, 255), 0),
            0);
  const RECT picture = {0, height - ScaleLength(268), ScaleLength(351), height};
  EXPECT_GT(canvas.CountDifferent(picture, RGB(255, 255, 255), 20),
            (picture.right * (picture.bottom - picture.top)) / 6);
  // Black text in the text column, heading first, the paragraph below it.
  const RECT heading_band = ScaleRect(RECT{394, 126, 698, 160});
  const RECT paragraph_band = ScaleRect(RECT{394, 170, 698, 260});
  EXPECT_LT(canvas.DarkestChannel(heading_band), 60);
  EXPECT_LT(canvas.DarkestChannel(paragraph_band), 60);
  // Nothing is drawn right of the column.
  EXPECT_EQ(canvas.CountDifferent(RECT{ScaleLength(700), 0, width, ScaleLength(120)},
                                  RGB(255, 255, 255), 0),
            0);
}

TEST(FirstSlideTest, RussianUsesItsOwnPicture) {
  test_support::UiTestEnvironment environment;
  FirstSlideContent english;
  english.language_id = 1033;
  FirstSlideContent russian;
  russian.language_id = 1049;
  test_support::MemoryCanvas a(ScaleLength(728), ScaleLength(400), RGB(0, 0, 0));
  test_support::MemoryCanvas b(ScaleLength(728), ScaleLength(400), RGB(0, 0, 0));
  DrawFirstSlide(english).Draw(a.dc(), RECT{0, 0, a.width(), a.height()});
  DrawFirstSlide(russian).Draw(b.dc(), RECT{0, 0, b.width(), b.height()});
  // Two different pictures at the bottom-left (303 is 351 x 268 design pixels, 321 is
  // 349 x 239), the same white everywhere else above them.
  const RECT picture = {0, a.height() - ScaleLength(268), ScaleLength(351), a.height()};
  int differing = 0;
  for (int y = picture.top; y < picture.bottom; ++y) {
    for (int x = picture.left; x < picture.right; ++x) {
      if (a.Pixel(x, y) != b.Pixel(x, y)) ++differing;
    }
  }
  EXPECT_GT(differing, 5000);
  EXPECT_EQ(b.CountDifferent(RECT{0, picture.top, picture.right, a.height() - ScaleLength(239)},
                             RGB(255, 255, 255), 0),
            0);
}

// The downloader against the fake publisher, which serves generated slides 02 to 05 under
// any ".../x2/NN.jpg" and 404 beyond.
std::wstring SlideBase(const std::string& marker, const std::string& faults = std::string()) {
  std::string path = faults.empty() ? std::string() : "/f/" + faults;
  path += "/browser/installer/" + marker + "/";
  return platform::Widen(test_support::PublisherUrl(path));
}

bool WaitUntilIdle(SlideDownloader& downloader, uint32_t timeout_ms) {
  const uint32_t start = GetTickCount();
  while (downloader.downloading()) {
    if (GetTickCount() - start > timeout_ms) return false;
    Sleep(50);
  }
  return true;
}

int CountPath(const std::vector<test_support::PublisherRequest>& requests,
              const std::string& suffix) {
  int count = 0;
  for (const auto& request : requests) {
    if (request.path.size() >= suffix.size() &&
        request.path.compare(request.path.size() - suffix.size(), suffix.size(), suffix) == 0) {
      ++count;
    }
  }
  return count;
}

TEST(SlideDownloaderTest, DownloadsUntilTenFailuresInARow) {
  test_support::UiTestEnvironment environment;
  const std::string marker = "slides" + test_support::UniqueMarker();
  ResourceBitmap first = DrawFirstSlide(FirstSlideContent{});
  SlideDownloader downloader;
  ASSERT_TRUE(downloader.Start(first, SlideBase(marker)));
  ASSERT_TRUE(WaitUntilIdle(downloader, 60000));
  EXPECT_EQ(downloader.slide_count(), 5u);
  // Slides 02..05 in order, then 06 ten times, and nothing after. (A loaded machine may let a
  // slide run past its time limit: that slide is asked for again at once.)
  test_support::PublisherRequestsWithPath(marker, 14);
  Sleep(300);
  std::vector<std::string> asked;
  for (const auto& request : test_support::PublisherRequestsWithPath(marker, 14, 0)) {
    const std::string file = request.path.substr(request.path.size() - 6);
    if (file == "06.jpg" || asked.empty() || asked.back() != file) asked.push_back(file);
  }
  std::vector<std::string> expected = {"02.jpg", "03.jpg", "04.jpg", "05.jpg"};
  expected.insert(expected.end(), 10, "06.jpg");
  EXPECT_EQ(asked, expected);

  // Slide 0 is the first slide; the downloaded ones are 2x assets at half size.
  EXPECT_EQ(downloader.GetSlide(0).width(), first.width());
  const ResourceBitmap second = downloader.GetSlide(1);
  EXPECT_DOUBLE_EQ(second.scale(), GetDeviceScaleFactor() * 0.5);
  EXPECT_EQ(second.width(), static_cast<int>(second.pixel_width() * second.scale()));
  EXPECT_EQ(downloader.GetSlide(5).width(), first.width());  // modulo the count
  downloader.Stop();
  EXPECT_EQ(downloader.slide_count(), 0u);
  EXPECT_TRUE(downloader.GetSlide(0).empty());
}

TEST(SlideDownloaderTest, UndecodableSlideIsLoggedAndNotAdded) {
  test_support::UiTestEnvironment environment;
  test_support::ScopedTestLog log;
  const std::string marker = "badslide" + test_support::UniqueMarker();
  const std::string path = "/browser/installer/" + marker + "/x2/02.jpg";
  ASSERT_TRUE(test_support::AddPublisherScript(
      "{\"path\": \"" + path + "\", \"responses\": [{\"body\": \"not a picture\"}], "
      "\"repeat_last\": true}"));
  SlideDownloader downloader;
  ASSERT_TRUE(downloader.Start(ResourceBitmap(), SlideBase(marker)));
  ASSERT_TRUE(WaitUntilIdle(downloader, 60000));
  EXPECT_EQ(downloader.slide_count(), 1u);
  const auto requests = test_support::PublisherRequestsWithPath(marker, 10);
  EXPECT_EQ(CountPath(requests, "/x2/02.jpg"), 10);
  EXPECT_EQ(requests.size(), 10u);
  const std::wstring url = SlideUrl(SlideBase(marker), 2);
  EXPECT_EQ(log.CountLines(
                L"Failed to load a background slide bitmap from data downloaded from " + url),
            10);
}

TEST(SlideDownloaderTest, StopJoinsTheThreadDuringASlowDownload) {
  test_support::UiTestEnvironment environment;
  const std::string marker = "slowslide" + test_support::UniqueMarker();
  SlideDownloader downloader;
  ASSERT_TRUE(
      downloader.Start(ResourceBitmap(), SlideBase(marker, "stall_after=10,stall_ms=3000")));
  // Stop while the first answer stalls (the publisher logs a request once it is answered).
  Sleep(500);
  EXPECT_TRUE(downloader.downloading());
  downloader.Stop();
  EXPECT_FALSE(downloader.downloading());
  EXPECT_EQ(downloader.slide_count(), 0u);
  // No request is started after the stop.
  Sleep(4000);
  EXPECT_LE(test_support::PublisherRequestsWithPath(marker, 1, 0).size(), 1u);
  downloader.Stop();  // a second stop is harmless
}

// A server that accepts the connection and never answers, before the TLS handshake or after
// the request, holds the stop no longer than its wait: the thread is left behind.
TEST(SlideDownloaderTest, StopLeavesBehindAThreadThatAServerNeverAnswers) {
  test_support::UiTestEnvironment environment;
  const std::string marker = "hungslide" + test_support::UniqueMarker();
  const std::wstring bases[] = {
      SlideBase(marker, "never_answer"),
      platform::Widen(test_support::SilentPublisherUrl("/browser/installer/" + marker + "/"))};
  for (const std::wstring& base : bases) {
    SCOPED_TRACE(platform::Narrow(base));
    test_support::ScopedTestLog log;
    SlideDownloader downloader;
    ASSERT_TRUE(downloader.Start(ResourceBitmap(), base));
    Sleep(500);
    downloader.Stop();
    EXPECT_FALSE(downloader.downloading());
    EXPECT_EQ(1, log.CountLines(L"The slide download does not end; it is left behind."));
  }
}

// A thread left behind while it decodes a slide holds the stop until its picture is freed:
// it uses nothing of GDI+ (shut down after the stop) once the stop has returned.
TEST(SlideDownloaderTest, StopWaitsForASlideBeingDecoded) {
  test_support::UiTestEnvironment environment;
  test_support::ScopedTestLog log;
  platform::ScopedKernelHandle in_decode(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  platform::ScopedKernelHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  SlideDownloader downloader;
  downloader.SetBeforeDecodeForTesting([&] {
    SetEvent(in_decode.get());
    WaitForSingleObject(release.get(), 60000);
  });
  ASSERT_TRUE(
      downloader.Start(ResourceBitmap(), SlideBase("decoding" + test_support::UniqueMarker())));
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(in_decode.get(), 60000));
  std::atomic<bool> stopped{false};
  std::thread stopper([&] {
    downloader.Stop();
    stopped = true;
  });
  EXPECT_TRUE(test_support::WaitUntil(
      [&] { return log.Contains(L"The slide download does not end; it is left behind."); },
      20000));
  EXPECT_FALSE(test_support::WaitUntil([&] { return stopped.load(); }, 1000));
  SetEvent(release.get());
  stopper.join();
  EXPECT_EQ(downloader.slide_count(), 0u);
}

TEST(SlideDownloaderTest, ADownloadLongerThanFiveSecondsFails) {
  test_support::UiTestEnvironment environment;
  const std::string marker = "stalled" + test_support::UniqueMarker();
  SlideDownloader downloader;
  std::string data;
  // The body stalls after 10 bytes for 5.6 s: the next chunk comes too late.
  EXPECT_FALSE(downloader.FetchSlideForTesting(
      SlideUrl(SlideBase(marker, "stall_after=10,stall_ms=5600"), 2), &data));
  EXPECT_TRUE(data.empty());
  // The same slide without the stall arrives.
  EXPECT_TRUE(downloader.FetchSlideForTesting(SlideUrl(SlideBase(marker), 2), &data));
  EXPECT_GT(data.size(), 8u);
}

TEST(SlideShowTest, OwnsADownloaderThatStopsWithIt) {
  test_support::UiTestEnvironment environment;
  const std::string marker = "show" + test_support::UniqueMarker();
  {
    SlideShow show(DrawFirstSlide(FirstSlideContent{}), SlideBase(marker), 1,
                   SIZE{ScaleLength(728), ScaleLength(400)});
    ASSERT_NE(show.downloader(), nullptr);
    EXPECT_TRUE(show.Tick());
    EXPECT_EQ(show.current_index(), 0u);
    EXPECT_GE(test_support::PublisherRequestsWithPath(marker, 1).size(), 1u);
  }
  // Destroyed: the thread is joined, so the request count no longer grows.
  const size_t seen = test_support::PublisherRequestsWithPath(marker, 1, 0).size();
  Sleep(500);
  EXPECT_EQ(test_support::PublisherRequestsWithPath(marker, 1, 0).size(), seen);
}

}  // namespace
}  // namespace installer

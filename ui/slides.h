// The progress screen's slide show: a first slide composed at run time, then slides
// downloaded in the background from the slide server, each shown for ten seconds, in a loop.
//
// `SlideDownloader` owns one download thread that fetches "<base>x2/02.jpg", "03.jpg", ...
// one after the other into a list guarded by a lock, and gives up after ten failures in a
// row. `SlideShow` owns a downloader and decides, on every 20 ms timer tick of the window,
// which slide is shown. Slide files are double-resolution pictures.
#ifndef UI_SLIDES_H_
#define UI_SLIDES_H_

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/scoped_handle.h"
#include "platform/shared_state.h"
#include "platform/sync.h"
#include "ui/resource_bitmap.h"

namespace installer {

class DistribInfoParams;

// Number `n` in decimal with a leading "0" below 10, then ".jpg": 2 → "02.jpg", 10 → "10.jpg".
std::wstring SlideFileName(uint32_t number);
// `base_url` + "x2/" + `SlideFileName(number)`.
std::wstring SlideUrl(std::wstring_view base_url, uint32_t number);

// The slide index to go to after the first slide: b − 1 when `banner` holds an integer b of
// 2 or more, else 1 (also for a missing, empty or malformed value).
uint32_t SlideStartIndex(const std::string* banner);
// The same from the "banner" distribution parameter.
uint32_t SlideStartIndexFromParams(const DistribInfoParams& params);
// The index after `index`: `start_index` after the first slide (0), else index + 1.
uint32_t NextSlideIndex(uint32_t index, uint32_t start_index);

// What the first slide shows.
struct FirstSlideContent {
  uint32_t language_id = 0;  // 1049 picks picture 321 instead of 303
  std::wstring heading;      // string 414
  std::wstring text;         // string 427
  HFONT heading_font = nullptr;  // font 5 of the main window (Arial 28), not owned
  HFONT text_font = nullptr;     // font 6 (Arial 15), not owned
};

// The strings 414 and 427 of `language_id` and the language, with the two fonts.
FirstSlideContent LoadFirstSlideContent(uint32_t language_id, HFONT heading_font,
                                        HFONT text_font);

// Composes the first slide: a white 728 × 400 (scaled) picture with the first-slide picture
// at its bottom-left corner, the heading centred in the box (394, 126, 698, 400) and the
// paragraph, laid out line by line, centred below it. Empty (logged under "DrawFirstSlide")
// when the memory device context or the bitmap cannot be made. The licence pieces shown on
// the first slide when the offer screen was skipped (1067/1068, box 424, 350, 666, 400) are
// child controls of the window, not part of this picture.
ResourceBitmap DrawFirstSlide(const FirstSlideContent& content);

// The source of slides a `SlideShow` shows.
class SlideSource {
 public:
  virtual ~SlideSource() = default;
  // The slide at `index` modulo the number held; empty when none is held.
  virtual ResourceBitmap GetSlide(uint32_t index) = 0;
};

class SlideDownloader : public SlideSource {
 public:
  // Longest time one slide download may take, from its start to its last chunk.
  static constexpr uint32_t kDownloadLimitMs = 5000;
  // Failures in a row after which the thread stops downloading.
  static constexpr int kMaxConsecutiveFailures = 10;
  // Slide files are numbered 02 to 99: with the first slide, 99 slides at most.
  static constexpr uint32_t kMaxSlides = 99;
  // A slide file larger than this, or a picture wider or taller than this, is refused.
  static constexpr uint32_t kMaxSlideBytes = 2u << 20;
  static constexpr int kMaxSlideSide = 2048;
  // How long `Stop` waits for the thread before it leaves it behind.
  static constexpr uint32_t kStopWaitMs = 2000;

  SlideDownloader();
  // Stops the thread.
  ~SlideDownloader() override;
  SlideDownloader(const SlideDownloader&) = delete;
  SlideDownloader& operator=(const SlideDownloader&) = delete;

  // Holds `first_slide` as slide 0 and starts the download thread for `base_url` (the slide
  // URL of the brand, ending in "/"). False (logged) when the thread cannot be started or
  // the downloader was started before; slide 0 is held in either case.
  bool Start(const ResourceBitmap& first_slide, const std::wstring& base_url);
  // Clears the running flag, waits up to kStopWaitMs for the thread to end (a download in
  // progress stops after its current chunk) and frees the slides. A thread still blocked
  // then (a server that accepted the connection and never answers) is left behind, logged:
  // it shares only its own state, ends when its call returns, and keeps nothing it fetches.
  // A thread decoding a slide is waited for until that picture is added or freed: after
  // `Stop` no thread of the downloader touches GDI+, which may be shut down then. Safe to
  // call more than once.
  void Stop();

  ResourceBitmap GetSlide(uint32_t index) override;
  uint32_t slide_count();
  // Whether the thread is still downloading (false once it gave up or was stopped).
  bool downloading() const { return thread_ && state_->downloading.load(); }

  // One download of `url` into `data` with the time and size limits, as the thread runs it
  // for each slide, on the calling thread of a downloader that was not started (for tests).
  bool FetchSlideForTesting(const std::wstring& url, std::string* data);
  // Called on the thread with each downloaded slide, just before it is decoded. Before Start.
  void SetBeforeDecodeForTesting(std::function<void()> hook) {
    state_->before_decode = std::move(hook);
  }

 private:
  // What the thread works on, shared by the downloader and its thread.
  struct State {
    platform::CriticalLock lock;
    std::vector<ResourceBitmap> slides;  // under lock
    std::wstring base_url;
    std::atomic<bool> running{false};
    std::atomic<bool> downloading{false};
    // Held by the thread while it has a picture of its own (decoding it, until it is added
    // or freed), and taken by `Stop` once the thread was told to stop: GDI+ work never
    // outlasts the stop. Decoding needs no server, so the stop waits only that long.
    platform::CriticalLock pictures;
    std::function<void()> before_decode;
  };

  static unsigned __stdcall ThreadMain(void* param);
  static void Run(State& state);
  // One slide: download, decode, append. True when a slide was added.
  static bool DownloadImage(State& state);
  static bool Fetch(State& state, const std::wstring& url, std::string* data);

  platform::SharedState<State> state_;
  platform::ScopedKernelHandle thread_;
};

// Milliseconds for the slide show (GetTickCount in production).
class SlideClock {
 public:
  virtual ~SlideClock() = default;
  virtual uint32_t NowMs() = 0;
};

class SlideShow {
 public:
  // How long each slide is shown.
  static constexpr uint32_t kSlideDurationMs = 10000;

  // Starts a downloader for `base_url` with `first_slide` and shows the first slide.
  // `area` is the slide area's size (728 × 400 scaled).
  SlideShow(const ResourceBitmap& first_slide, const std::wstring& base_url,
            uint32_t start_index, SIZE area);
  // Over another slide source and clock (both borrowed, must outlive the show); for tests.
  SlideShow(SlideSource* source, SlideClock* clock, uint32_t start_index, SIZE area);
  ~SlideShow();
  SlideShow(const SlideShow&) = delete;
  SlideShow& operator=(const SlideShow&) = delete;

  // Called every 20 ms: moves on when the current slide's time is over. Returns true, once,
  // when a slide started since the last tick (the window must repaint).
  bool Tick();
  // Fills the area white, then draws the current slide at its logical size with its
  // bottom-left corner at the area's bottom-left corner, no wider than the area.
  void Draw(HDC dc) const;

  uint32_t current_index() const { return index_; }
  const ResourceBitmap& current_slide() const { return current_; }
  // The owned downloader; null when the show was built over another source.
  SlideDownloader* downloader() const { return downloader_.get(); }

 private:
  void Show(uint32_t index);

  std::unique_ptr<SlideDownloader> downloader_;
  std::unique_ptr<SlideClock> own_clock_;
  SlideSource* source_;
  SlideClock* clock_;
  SIZE area_;
  uint32_t index_ = 0;
  uint32_t start_index_;
  ResourceBitmap current_;
  uint32_t started_ms_ = 0;
  bool changed_ = true;
};

}  // namespace installer

#endif  // UI_SLIDES_H_

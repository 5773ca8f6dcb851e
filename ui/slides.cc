#include "ui/slides.h"

#include <process.h>

#include <utility>

#include "brand/distrib_info_params.h"
#include "brand/localized_strings.h"
#include "network/download_sink.h"
#include "network/http_downloader.h"
#include "platform/logging.h"
#include "platform/strings.h"
#include "resources/image_ids.h"
#include "resources/resource_ids.h"
#include "ui/license_text.h"
#include "ui/scale.h"
#include "ui/text_label.h"

namespace installer {
namespace {

constexpr uint32_t kRussianLanguageId = 1049;
constexpr int kSlideWidth = 728;
constexpr int kSlideHeight = 400;

class TickCountClock : public SlideClock {
 public:
  uint32_t NowMs() override { return GetTickCount(); }
};

// Draws the paragraph line by line with the licence-sentence layout, each line centred in
// the box's width; returns nothing: the picture simply ends where the text ends.
void DrawParagraph(HDC dc, const std::wstring& text, const RECT& box) {
  const std::vector<LicenseToken> tokens = TokenizeLicenseText(text);
  std::vector<int> widths;
  widths.reserve(tokens.size());
  for (const LicenseToken& token : tokens) {
    const std::wstring_view piece = TrimTrailingLineBreaks(token.text);
    SIZE size = {0, 0};
    GetTextExtentPoint32W(dc, piece.data(), static_cast<int>(piece.size()), &size);
    widths.push_back(size.cx);
  }
  const std::vector<std::wstring> lines =
      LicenseRunLines(LayoutLicenseRuns(tokens, widths, box.right - box.left));
  const int line_height = FontLineHeight(dc);
  for (size_t i = 0; i < lines.size(); ++i) {
    RECT line_rect = {box.left, box.top + static_cast<int>(i) * line_height, box.right,
                      box.top + static_cast<int>(i + 1) * line_height};
    if (line_rect.top >= box.bottom) break;
    DrawTextW(dc, lines[i].c_str(), static_cast<int>(lines[i].size()), &line_rect,
              DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
  }
}

}  // namespace

std::wstring SlideFileName(uint32_t number) {
  std::wstring name = number < 10 ? L"0" : L"";
  name += platform::ToWString(number);
  name += L".jpg";
  return name;
}

std::wstring SlideUrl(std::wstring_view base_url, uint32_t number) {
  std::wstring url(base_url);
  url += L"x2/";
  url += SlideFileName(number);
  return url;
}

uint32_t SlideStartIndex(const std::string* banner) {
  int32_t value = 0;
  if (banner == nullptr || !platform::StringToInt32(*banner, &value) || value < 2) return 1;
  return static_cast<uint32_t>(value) - 1;
}

uint32_t SlideStartIndexFromParams(const DistribInfoParams& params) {
  std::string banner;
  return SlideStartIndex(params.Get("banner", &banner) ? &banner : nullptr);
}

uint32_t NextSlideIndex(uint32_t index, uint32_t start_index) {
  return index == 0 ? start_index : index + 1;
}

FirstSlideContent LoadFirstSlideContent(uint32_t language_id, HFONT heading_font,
                                        HFONT text_font) {
  FirstSlideContent content;
  content.language_id = language_id;
  content.heading = LoadLocalizedString(IDS_FIRST_SLIDE_HEADING, language_id);
  content.text = LoadLocalizedString(IDS_FIRST_SLIDE_TEXT, language_id);
  content.heading_font = heading_font;
  content.text_font = text_font;
  return content;
}

ResourceBitmap DrawFirstSlide(const FirstSlideContent& content) {
  const int width = ScaleLength(kSlideWidth);
  const int height = ScaleLength(kSlideHeight);
  HDC screen = GetDC(nullptr);
  platform::ScopedMemoryDc dc(CreateCompatibleDC(screen));
  if (!dc) {
    if (screen != nullptr) ReleaseDC(nullptr, screen);
    logging::LogText(logging::kERROR, "DrawFirstSlide", __LINE__,
                     "Failed to create a memory DC to draw the first slide bitmap");
    return ResourceBitmap();
  }
  platform::ScopedBitmap bitmap(CreateCompatibleBitmap(screen, width, height));
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  if (!bitmap) {
    logging::LogText(logging::kERROR, "DrawFirstSlide", __LINE__,
                     "Failed to create the first slide bitmap");
    return ResourceBitmap();
  }
  HGDIOBJ old_bitmap = SelectObject(dc.get(), bitmap.get());
  RECT whole = {0, 0, width, height};
  FillRect(dc.get(), &whole, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));

  ResourceBitmap picture;
  picture.Load(content.language_id == kRussianLanguageId ? IDB_FIRST_SLIDE_RU : IDB_FIRST_SLIDE,
               2.0);
  picture.DrawAt(dc.get(), 0, height - picture.height());

  SetBkMode(dc.get(), TRANSPARENT);
  SetTextColor(dc.get(), RGB(0, 0, 0));
  HGDIOBJ old_font = SelectObject(dc.get(), content.heading_font != nullptr
                                                ? content.heading_font
                                                : GetStockObject(DEFAULT_GUI_FONT));
  RECT heading_box = ScaleRect(394, 126, 698, 400);
  DrawTextW(dc.get(), content.heading.c_str(), static_cast<int>(content.heading.size()),
            &heading_box, DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
  // The paragraph box starts 9 design pixels below the heading box; it is moved down by
  // the heading's own height so that the two never overlap.
  RECT measured = ScaleRect(394, 126, 698, 400);
  DrawTextW(dc.get(), content.heading.c_str(), static_cast<int>(content.heading.size()),
            &measured, DT_CENTER | DT_WORDBREAK | DT_NOPREFIX | DT_CALCRECT);
  const int heading_height = content.heading.empty() ? 0 : measured.bottom - measured.top;
  SelectObject(dc.get(), content.text_font != nullptr ? content.text_font
                                                      : GetStockObject(DEFAULT_GUI_FONT));
  RECT text_box = ScaleRect(394, 135, 698, 400);
  text_box.top += heading_height;
  DrawParagraph(dc.get(), content.text, text_box);
  SelectObject(dc.get(), old_font);
  SelectObject(dc.get(), old_bitmap);
  return ResourceBitmap(bitmap.get());
}

SlideDownloader::SlideDownloader() = default;

SlideDownloader::~SlideDownloader() { Stop(); }

bool SlideDownloader::Start(const ResourceBitmap& first_slide, const std::wstring& base_url) {
  {
    platform::AutoLock hold(state_->lock);
    if (state_->slides.empty()) state_->slides.push_back(first_slide);
  }
  if (thread_) {
    logging::LogText(logging::kERROR, "Start", __LINE__, "The slide download was started before");
    return false;
  }
  state_->base_url = base_url;
  state_->running = true;
  state_->downloading = true;
  // The thread holds its own reference to the state.
  auto* reference = new platform::SharedState<State>(state_);
  thread_.reset(reinterpret_cast<HANDLE>(
      _beginthreadex(nullptr, 0, &SlideDownloader::ThreadMain, reference, 0, nullptr)));
  if (!thread_) {
    delete reference;
    state_->running = false;
    state_->downloading = false;
    logging::LogText(logging::kERROR, "Start", __LINE__,
                     "Failed to start the slide download thread");
    return false;
  }
  return true;
}

void SlideDownloader::Stop() {
  state_->running = false;
  if (thread_) {
    if (WaitForSingleObject(thread_.get(), kStopWaitMs) == WAIT_TIMEOUT) {
      logging::LogText(logging::kWARNING, "Stop", __LINE__,
                       "The slide download does not end; it is left behind.");
    }
    thread_.reset();
  }
  // A thread left behind may be decoding: its picture is added (and freed below) or freed
  // before this returns.
  { platform::AutoLock decoding(state_->pictures); }
  platform::AutoLock hold(state_->lock);
  state_->slides.clear();
}

ResourceBitmap SlideDownloader::GetSlide(uint32_t index) {
  platform::AutoLock hold(state_->lock);
  if (state_->slides.empty()) return ResourceBitmap();
  return state_->slides[index % state_->slides.size()];
}

uint32_t SlideDownloader::slide_count() {
  platform::AutoLock hold(state_->lock);
  return static_cast<uint32_t>(state_->slides.size());
}

unsigned __stdcall SlideDownloader::ThreadMain(void* param) {
  std::unique_ptr<platform::SharedState<State>> reference(
      static_cast<platform::SharedState<State>*>(param));
  Run(**reference);
  return 0;
}

void SlideDownloader::Run(State& state) {
  int failures = 0;
  while (state.running && failures < kMaxConsecutiveFailures) {
    uint32_t count = 0;
    {
      platform::AutoLock hold(state.lock);
      count = static_cast<uint32_t>(state.slides.size());
    }
    if (count >= kMaxSlides) break;
    if (DownloadImage(state)) {
      failures = 0;
    } else {
      ++failures;
    }
  }
  state.downloading = false;
}

bool SlideDownloader::DownloadImage(State& state) {
  uint32_t number = 0;
  {
    platform::AutoLock hold(state.lock);
    number = static_cast<uint32_t>(state.slides.size()) + 1;
  }
  const std::wstring url = SlideUrl(state.base_url, number);
  std::string data;
  if (!Fetch(state, url, &data)) return false;
  platform::AutoLock decoding(state.pictures);
  // Stopped meanwhile: GDI+ may be gone by now.
  if (!state.running) return false;
  if (state.before_decode) state.before_decode();
  // Slide files are drawn for double resolution.
  ResourceBitmap slide;
  if (!slide.LoadFromBytes(data, GetDeviceScaleFactor() * 0.5)) {
    logging::LogWithValue(logging::kERROR, "DownloadImage", __LINE__,
                          "Failed to load a background slide bitmap from data downloaded from ",
                          url);
    return false;
  }
  if (slide.pixel_width() > kMaxSlideSide || slide.pixel_height() > kMaxSlideSide) {
    LOG(ERROR, "DownloadImage") << "The slide from " << url << " is " << slide.pixel_width()
                                << " x " << slide.pixel_height() << " pixels; refused.";
    return false;
  }
  platform::AutoLock hold(state.lock);
  // A downloader that stopped meanwhile has let its slides go; it gets no new one.
  if (!state.running) return false;
  state.slides.push_back(std::move(slide));
  return true;
}

bool SlideDownloader::Fetch(State& state, const std::wstring& url, std::string* data) {
  const uint32_t start = GetTickCount();
  HttpDownloader downloader;
  StringSink sink(kMaxSlideBytes);
  if (!downloader.OpenDownload(url, sink)) return false;
  while (state.running) {
    if (downloader.ReadChunk() == 0) break;
    if (GetTickCount() - start > kDownloadLimitMs) return false;
  }
  if (!state.running || GetTickCount() - start > kDownloadLimitMs) return false;
  if (!downloader.FinalizeDownload()) return false;
  *data = std::move(*sink.mutable_data());
  return true;
}

bool SlideDownloader::FetchSlideForTesting(const std::wstring& url, std::string* data) {
  if (thread_) return false;
  state_->running = true;
  const bool fetched = Fetch(*state_, url, data);
  state_->running = false;
  return fetched;
}

SlideShow::SlideShow(const ResourceBitmap& first_slide, const std::wstring& base_url,
                     uint32_t start_index, SIZE area)
    : downloader_(std::make_unique<SlideDownloader>()),
      own_clock_(std::make_unique<TickCountClock>()),
      source_(downloader_.get()),
      clock_(own_clock_.get()),
      area_(area),
      start_index_(start_index) {
  downloader_->Start(first_slide, base_url);
  current_ = first_slide;
  started_ms_ = clock_->NowMs();
}

SlideShow::SlideShow(SlideSource* source, SlideClock* clock, uint32_t start_index, SIZE area)
    : source_(source), clock_(clock), area_(area), start_index_(start_index) {
  current_ = source_->GetSlide(0);
  started_ms_ = clock_->NowMs();
}

SlideShow::~SlideShow() {
  if (downloader_) downloader_->Stop();
}

bool SlideShow::Tick() {
  const uint32_t now = clock_->NowMs();
  if (now - started_ms_ >= kSlideDurationMs) Show(NextSlideIndex(index_, start_index_));
  const bool changed = changed_;
  changed_ = false;
  return changed;
}

void SlideShow::Show(uint32_t index) {
  index_ = index;
  current_ = source_->GetSlide(index);
  started_ms_ = clock_->NowMs();
  changed_ = true;
}

void SlideShow::Draw(HDC dc) const {
  RECT area = {0, 0, area_.cx, area_.cy};
  FillRect(dc, &area, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  const int height = current_.height();
  const int width = current_.width() < area_.cx ? current_.width() : area_.cx;
  current_.Draw(dc, RECT{0, 0, width, height},
                RECT{0, area_.cy - height, width, area_.cy});
}

}  // namespace installer

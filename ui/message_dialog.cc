#include "ui/message_dialog.h"

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <vector>

#include "brand/localized_strings.h"
#include "platform/logging.h"
#include "resources/image_ids.h"
#include "resources/resource_ids.h"
#include "ui/scale.h"

namespace lite_installer {

namespace {

// Layout of the 410 x 186 dialog in design pixels (the size of its picture).
constexpr SIZE kDialogSize = {410, 186};
constexpr int kMargin = 20;
constexpr int kTitleTop = 16;
constexpr int kTextGap = 8;
constexpr int kButtonGap = 12;
constexpr int kBottomMargin = 16;

// Dark text on the light dialog picture.
constexpr COLORREF kTitleColor = RGB(34, 38, 46);
constexpr COLORREF kTextColor = RGB(34, 38, 46);
constexpr BYTE kTextOpacity = 200;

std::wstring Text(uint32_t id, uint32_t language_id) {
  return id == 0 ? std::wstring() : installer::LoadLocalizedString(id, language_id);
}

}  // namespace

MessageDialogTexts MessageDialogTextsFor(MessageKind kind) {
  switch (kind) {
    case MessageKind::kDownloadManually:
      return {IDS_ERROR_TITLE, IDS_DOWNLOAD_MANUALLY_TEXT, IDS_DOWNLOAD_BUTTON,
              IDS_ERROR_CANCEL_BUTTON};
    case MessageKind::kOldComponent:
      return {IDS_OLD_COMPONENT_TITLE, IDS_OLD_COMPONENT_TEXT, 0,
              IDS_OLD_COMPONENT_CANCEL_BUTTON};
    case MessageKind::kNewerVersion:
      return {IDS_NEWER_VERSION_TITLE, IDS_NEWER_VERSION_TEXT, IDS_OK_BUTTON, 0};
    case MessageKind::kNotEnoughDiskSpace:
      return {IDS_DISK_SPACE_TITLE, IDS_DISK_SPACE_TEXT, IDS_OK_BUTTON, 0};
    case MessageKind::kUnsupportedSystem:
      return {IDS_UNSUPPORTED_SYSTEM_TITLE, IDS_UNSUPPORTED_SYSTEM_TEXT, IDS_MORE_INFO_BUTTON,
              0};
    case MessageKind::kResumeOrCancel:
      return {IDS_RESUME_QUESTION, 0, IDS_RESUME_BUTTON, IDS_RESUME_CANCEL_BUTTON};
  }
  return {};
}

MessageKind MessageKindForError(int32_t error_code) {
  return error_code == 3 ? MessageKind::kOldComponent : MessageKind::kDownloadManually;
}

bool OpenUrlWithShell(const std::wstring& url) {
  HINSTANCE result = ShellExecuteW(nullptr, L"open", url.c_str(), nullptr, nullptr,
                                   SW_SHOWNORMAL);
  // ShellExecute reports success with any value above 32.
  if (reinterpret_cast<INT_PTR>(result) <= 32) {
    logging::LogWithValue(logging::kERROR, "OpenUrl", __LINE__, "Failed to open ", url);
    return false;
  }
  return true;
}

MessageDialog::MessageDialog(MessageKind kind, uint32_t language_id, std::wstring download_url)
    : DialogWindow(IDD_MESSAGE_DIALOG),
      kind_(kind),
      language_id_(language_id),
      download_url_(std::move(download_url)),
      texts_(MessageDialogTextsFor(kind)) {}

MessageDialog::~MessageDialog() = default;

bool MessageDialog::OpenUrl(const std::wstring& url) { return OpenUrlWithShell(url); }

void MessageDialog::LoadBackground(installer::ResourceBitmap* background) {
  background->LoadScaled(IDB_DIALOG_BACKGROUND);
}

INT_PTR MessageDialog::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog();
      return TRUE;
    case WM_COMMAND:
      OnButton(LOWORD(wparam));
      return TRUE;
    case WM_NOTIFY: {
      const NMHDR* header = reinterpret_cast<const NMHDR*>(lparam);
      if (header->code != NM_CUSTOMDRAW) return FALSE;
      const NMCUSTOMDRAW& draw = *reinterpret_cast<const NMCUSTOMDRAW*>(lparam);
      for (ImageButton* button : {first_button_.get(), second_button_.get()}) {
        if (button != nullptr && button->hwnd() == header->hwndFrom) {
          SetWindowLongPtrW(hwnd(), DWLP_MSGRESULT, button->OnCustomDraw(draw));
          return TRUE;
        }
      }
      return FALSE;
    }
    case WM_SYSCOMMAND:
      if ((wparam & 0xFFF0) == SC_CLOSE) {
        EndDialog(kMessageDismissed);
        return TRUE;
      }
      return FALSE;
    case WM_PAINT:
      Paint();
      return TRUE;
    case WM_ERASEBKGND:
      // The picture covers the whole dialog: erasing first would only flicker.
      SetWindowLongPtrW(hwnd(), DWLP_MSGRESULT, 1);
      return TRUE;
    case WM_CTLCOLORDLG:
      return reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH));
    case WM_WINDOWPOSCHANGED:
      shadow_.Follow();
      return FALSE;
    case WM_DESTROY:
      shadow_.Destroy();
      return FALSE;
    default:
      return FALSE;
  }
}

void MessageDialog::OnInitDialog() {
  SetWindowTextW(hwnd(), installer::LoadLocalizedString(IDS_WINDOW_TITLE, language_id_).c_str());
  LoadBackground(&background_);

  title_font_.reset(installer::CreateScaledFont(L"Arial", 15, false));
  text_font_.reset(installer::CreateScaledFont(L"Arial", 12, false));
  button_font_.reset(installer::CreateScaledFont(L"SegoeUI", 15, false));

  SetDlgItemTextW(hwnd(), IDC_MESSAGE_TITLE, Text(texts_.title, language_id_).c_str());
  SetDlgItemTextW(hwnd(), IDC_MESSAGE_TEXT, Text(texts_.text, language_id_).c_str());
  title_ = std::make_unique<TextLabel>(GetDlgItem(hwnd(), IDC_MESSAGE_TITLE), kTitleColor, 255,
                                       title_font_.get(), &background_,
                                       DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
  text_ = std::make_unique<TextLabel>(GetDlgItem(hwnd(), IDC_MESSAGE_TEXT), kTextColor,
                                      kTextOpacity, text_font_.get(), &background_,
                                      DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);

  struct ButtonSlot {
    int id;
    uint32_t text_id;
    std::unique_ptr<ImageButton>* button;
  };
  for (const ButtonSlot& slot : {ButtonSlot{IDOK, texts_.first_button, &first_button_},
                                 ButtonSlot{IDC_MESSAGE_SECOND_BUTTON, texts_.second_button,
                                            &second_button_}}) {
    HWND control = GetDlgItem(hwnd(), slot.id);
    if (slot.text_id == 0) {
      // Disabled as well, so that Enter or Escape can never press a button nobody sees.
      ShowWindow(control, SW_HIDE);
      EnableWindow(control, FALSE);
      continue;
    }
    *slot.button = std::make_unique<ImageButton>(control, IDB_INSTALL_BUTTON, button_font_.get(),
                                                 &background_);
    (*slot.button)->SetText(Text(slot.text_id, language_id_));
  }

  // Without its picture the dialog still gets its design size: a dialog of 0 x 0 would be
  // modal and invisible, waiting for a click nobody can make.
  size_ = background_.empty() ? SIZE{installer::ScaleLength(kDialogSize.cx),
                                     installer::ScaleLength(kDialogSize.cy)}
                              : SIZE{background_.width(), background_.height()};
  SetWindowPos(hwnd(), nullptr, 0, 0, size_.cx, size_.cy,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  Layout();
  CenterOnOwner();
  shadow_.Create(hwnd(), ShadowWindow::Style::kMessageDialog);
}

void MessageDialog::Layout() {
  const int width = size_.cx;
  const int height = size_.cy;
  const int margin = installer::ScaleLength(kMargin);
  const int text_width = width - 2 * margin;

  int top = installer::ScaleLength(kTitleTop);
  std::wstring title = Text(texts_.title, language_id_);
  int title_height = installer::MeasureWrappedText(title, title_font_.get(), text_width).cy;
  MoveWindow(GetDlgItem(hwnd(), IDC_MESSAGE_TITLE), margin, top, text_width, title_height, FALSE);
  top += title_height + installer::ScaleLength(kTextGap);

  // The buttons share the bottom row, centred as a group.
  std::vector<ImageButton*> shown;
  for (ImageButton* button : {first_button_.get(), second_button_.get()}) {
    if (button != nullptr) shown.push_back(button);
  }
  int button_top = height - installer::ScaleLength(kBottomMargin);
  if (!shown.empty()) {
    SIZE cell = shown.front()->cell_size();
    button_top -= cell.cy;
    int gap = installer::ScaleLength(kButtonGap);
    int row_width = static_cast<int>(shown.size()) * cell.cx +
                    (static_cast<int>(shown.size()) - 1) * gap;
    int x = (width - row_width) / 2;
    for (ImageButton* button : shown) {
      button->PlaceAt(x, button_top);
      x += cell.cx + gap;
    }
  }
  int text_height = std::max(0, button_top - installer::ScaleLength(kTextGap) - top);
  MoveWindow(GetDlgItem(hwnd(), IDC_MESSAGE_TEXT), margin, top, text_width, text_height, FALSE);
}

void MessageDialog::OnButton(int id) {
  if (id == IDCANCEL) {
    EndDialog(kMessageDismissed);
    return;
  }
  if (id == IDOK && first_button_) {
    if (kind_ == MessageKind::kDownloadManually) OpenUrl(download_url_);
    EndDialog(kMessageFirstButton);
    return;
  }
  if (id == IDC_MESSAGE_SECOND_BUTTON && second_button_) EndDialog(kMessageSecondButton);
}

void MessageDialog::Paint() {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(hwnd(), &paint);
  RECT client;
  GetClientRect(hwnd(), &client);
  if (background_.empty()) FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  background_.Draw(dc, client);
  EndPaint(hwnd(), &paint);
}

}  // namespace lite_installer

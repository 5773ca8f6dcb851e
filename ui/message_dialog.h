// The installer's small modal message dialogs: an error with a manual-download offer, an old
// crypto component, a newer browser already installed, too little disk space, an
// unsupported system, and the resume-or-cancel question of the progress screen.
//
// Every one is dialog template 202 (title 1000, body text 1001, buttons 1 and 1010) over
// picture 315, with a soft shadow; the texts are string-table entries of the interface
// language, and a button without a text is hidden. The dialog ends with the id of the
// button that was pressed (1 or 1010), or 2 when it was closed by Escape or the system menu.
// Which texts each kind shows is the pure table `MessageDialogTextsFor`.
#ifndef UI_MESSAGE_DIALOG_H_
#define UI_MESSAGE_DIALOG_H_

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/scoped_handle.h"
#include "ui/dialog_window.h"
#include "ui/image_button.h"
#include "ui/resource_bitmap.h"
#include "ui/shadow_window.h"
#include "ui/text_label.h"

namespace lite_installer {

enum class MessageKind {
  kDownloadManually,    // any install error but the old crypto component
  kOldComponent,        // install error 3
  kNewerVersion,        // the setup found a newer browser
  kNotEnoughDiskSpace,  // the pre-install check failed
  kUnsupportedSystem,   // the system is too old for the browser
  kResumeOrCancel,      // the cancel button of the progress screen
};

// String ids of one kind; 0 means none (an empty body, a hidden button).
struct MessageDialogTexts {
  uint32_t title = 0;
  uint32_t text = 0;
  uint32_t first_button = 0;   // control 1
  uint32_t second_button = 0;  // control 1010
};
MessageDialogTexts MessageDialogTextsFor(MessageKind kind);

// The dialog for an error code of the install flow: the old-component notice for 3, the
// manual-download offer for anything else.
MessageKind MessageKindForError(int32_t error_code);

// Results besides the button ids.
inline constexpr INT_PTR kMessageFirstButton = IDOK;
inline constexpr INT_PTR kMessageSecondButton = 1010;
inline constexpr INT_PTR kMessageDismissed = IDCANCEL;

// Opens `url` with the shell's "open" verb, shown normally. False (logged under "OpenUrl")
// when the shell refuses.
bool OpenUrlWithShell(const std::wstring& url);

class MessageDialog : public DialogWindow {
 public:
  // `language_id` picks the string table; `download_url` is what the first button of the
  // manual-download dialog opens (unused by the other kinds).
  MessageDialog(MessageKind kind, uint32_t language_id, std::wstring download_url = {});
  ~MessageDialog() override;

  MessageKind kind() const { return kind_; }

 protected:
  INT_PTR HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;
  // Hands `url` to the shell; tests replace it so that no browser starts.
  virtual bool OpenUrl(const std::wstring& url);
  // Loads the dialog's picture (315) into `background`; tests replace it to leave it empty.
  virtual void LoadBackground(installer::ResourceBitmap* background);

 private:
  void OnInitDialog();
  void OnButton(int id);
  void Layout();
  void Paint();

  MessageKind kind_;
  uint32_t language_id_;
  std::wstring download_url_;
  MessageDialogTexts texts_;

  installer::ResourceBitmap background_;
  // The picture's size, or the design size (scaled) when the picture did not load.
  SIZE size_ = {};
  platform::ScopedFont title_font_;
  platform::ScopedFont text_font_;
  platform::ScopedFont button_font_;
  std::unique_ptr<TextLabel> title_;
  std::unique_ptr<TextLabel> text_;
  std::unique_ptr<ImageButton> first_button_;
  std::unique_ptr<ImageButton> second_button_;
  ShadowWindow shadow_;
};

}  // namespace lite_installer

#endif  // UI_MESSAGE_DIALOG_H_

// The licence sentence: a string with one inline link marked "((...))", laid out in a box as
// a row of child controls, plain text pieces and link pieces, wrapped at word boundaries.
//
// The tokeniser and the line layout are pure functions over wide strings and integer widths;
// `LicenseSentence` measures the tokens in its fonts and creates the controls. All its
// plain pieces share one control id and all its link pieces another, so the window reacts to
// a click on any link piece alike and removes the pieces by id.
#ifndef UI_LICENSE_TEXT_H_
#define UI_LICENSE_TEXT_H_

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ui/resource_bitmap.h"
#include "ui/text_label.h"

namespace installer {

struct LicenseToken {
  std::wstring text;
  bool link = false;

  bool operator==(const LicenseToken&) const = default;
};

// Splits `text` left to right. "((" ends the current plain token and starts link mode; "))"
// in link mode ends the link token; the markers are dropped. Outside link mode a line break
// ends a token and stays at its end, and a new token starts where a non-space character
// follows a space, so each word keeps its trailing spaces. An unclosed "((" makes the rest
// of the text one link token. Empty tokens are never produced.
std::vector<LicenseToken> TokenizeLicenseText(std::wstring_view text);

// One piece of a laid-out line: consecutive tokens of the same kind on one line.
struct LicenseRun {
  std::wstring text;
  bool link = false;
  int x = 0;      // from the box's left edge
  int line = 0;   // 0 for the first line
  int width = 0;  // sum of the token widths

  bool operator==(const LicenseRun&) const = default;
};

// Lays `tokens` (with `widths[i]` the width of token i; a missing width counts as 0) into
// lines no wider than `box_width`: a run that holds a line break, or a token that would
// reach past the box, ends the line; a token of the other kind ends the run. A token wider
// than the box stands alone on its line. The first token always starts the first line.
std::vector<LicenseRun> LayoutLicenseRuns(const std::vector<LicenseToken>& tokens,
                                          const std::vector<int>& widths, int box_width);

// `text` without the line breaks at its end: a break only moves what follows to a new line,
// so pieces are measured and shown without it.
std::wstring_view TrimTrailingLineBreaks(std::wstring_view text);

// The runs' texts joined line by line (for text drawn line by line, such as the first
// slide's paragraph); one string per line, without trailing line breaks.
std::vector<std::wstring> LicenseRunLines(const std::vector<LicenseRun>& runs);

}  // namespace installer

namespace lite_installer {

class LicenseSentence {
 public:
  struct Style {
    HFONT text_font = nullptr;  // plain pieces (not owned)
    HFONT link_font = nullptr;  // link pieces, usually the underlined face (not owned)
    COLORREF text_color = RGB(255, 255, 255);
    BYTE text_opacity = 255;
    COLORREF link_color = RGB(255, 255, 255);
    BYTE link_opacity = 184;
    // The window's background picture, drawn behind each piece (may be null, not owned).
    const installer::ResourceBitmap* background = nullptr;
  };

  LicenseSentence() = default;
  ~LicenseSentence() = default;
  LicenseSentence(const LicenseSentence&) = delete;
  LicenseSentence& operator=(const LicenseSentence&) = delete;

  // Tokenises `marked_up`, measures each token in its piece's font, lays the runs out in
  // `box` (parent client coordinates, device pixels; the line height is the text font's
  // height) and creates one visible child control of `parent` per run: plain runs with id
  // `text_id`, link runs with id `link_id` (each link piece sends WM_COMMAND with
  // `link_id`). Pieces made by an earlier call stay. Returns the number of pieces made.
  int Create(HWND parent, std::wstring_view marked_up, const RECT& box, const Style& style,
             int text_id, int link_id);

  // Destroys every piece still alive.
  void Destroy();

  // The pieces made, in layout order, for tests and for the window's own placement.
  const std::vector<installer::LicenseRun>& runs() const { return runs_; }
  size_t piece_count() const { return labels_.size(); }

 private:
  std::vector<installer::LicenseRun> runs_;
  std::vector<std::unique_ptr<TextLabel>> labels_;
};

}  // namespace lite_installer

#endif  // UI_LICENSE_TEXT_H_

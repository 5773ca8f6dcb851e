#include "ui/license_text.h"

namespace installer {
namespace {

bool StartsWith(std::wstring_view text, size_t at, std::wstring_view marker) {
  return text.substr(at, marker.size()) == marker;
}

}  // namespace

std::wstring_view TrimTrailingLineBreaks(std::wstring_view text) {
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) {
    text.remove_suffix(1);
  }
  return text;
}

std::vector<LicenseToken> TokenizeLicenseText(std::wstring_view text) {
  std::vector<LicenseToken> tokens;
  std::wstring current;
  bool link = false;
  auto flush = [&](bool as_link) {
    if (!current.empty()) tokens.push_back(LicenseToken{current, as_link});
    current.clear();
  };
  size_t i = 0;
  while (i < text.size()) {
    if (!link && StartsWith(text, i, L"((")) {
      flush(false);
      link = true;
      i += 2;
      continue;
    }
    if (link && StartsWith(text, i, L"))")) {
      flush(true);
      link = false;
      i += 2;
      continue;
    }
    const wchar_t c = text[i++];
    if (link) {
      current.push_back(c);
      continue;
    }
    if (c != L' ' && !current.empty() && current.back() == L' ') flush(false);
    current.push_back(c);
    if (c == L'\n') flush(false);
  }
  flush(link);
  return tokens;
}

std::vector<LicenseRun> LayoutLicenseRuns(const std::vector<LicenseToken>& tokens,
                                          const std::vector<int>& widths, int box_width) {
  std::vector<LicenseRun> runs;
  LicenseRun run;
  bool run_open = false;
  int x = 0;
  int line = 0;
  for (size_t i = 0; i < tokens.size(); ++i) {
    const LicenseToken& token = tokens[i];
    const int width = i < widths.size() ? widths[i] : 0;
    if (!run_open) {
      run = LicenseRun{token.text, token.link, x, line, width};
      run_open = true;
      continue;
    }
    const bool holds_break = run.text.find(L'\n') != std::wstring::npos;
    if (holds_break || x + run.width + width > box_width) {
      runs.push_back(run);
      ++line;
      x = 0;
      run = LicenseRun{token.text, token.link, x, line, width};
    } else if (token.link == run.link) {
      run.text += token.text;
      run.width += width;
    } else {
      runs.push_back(run);
      x += run.width;
      run = LicenseRun{token.text, token.link, x, line, width};
    }
  }
  if (run_open) runs.push_back(run);
  return runs;
}

std::vector<std::wstring> LicenseRunLines(const std::vector<LicenseRun>& runs) {
  std::vector<std::wstring> lines;
  for (const LicenseRun& run : runs) {
    if (run.line < 0) continue;
    if (lines.size() <= static_cast<size_t>(run.line)) lines.resize(run.line + 1);
    lines[run.line] += TrimTrailingLineBreaks(run.text);
  }
  return lines;
}

}  // namespace installer

namespace lite_installer {
namespace {


}  // namespace

int LicenseSentence::Create(HWND parent, std::wstring_view marked_up, const RECT& box,
                            const Style& style, int text_id, int link_id) {
  const std::vector<installer::LicenseToken> tokens = installer::TokenizeLicenseText(marked_up);
  std::vector<int> widths;
  widths.reserve(tokens.size());
  for (const installer::LicenseToken& token : tokens) {
    widths.push_back(installer::MeasureText(installer::TrimTrailingLineBreaks(token.text),
                                            token.link ? style.link_font : style.text_font)
                         .cx);
  }
  const std::vector<installer::LicenseRun> runs =
      installer::LayoutLicenseRuns(tokens, widths, box.right - box.left);
  const int line_height = installer::FontLineHeight(style.text_font);
  int made = 0;
  for (const installer::LicenseRun& run : runs) {
    const std::wstring text(installer::TrimTrailingLineBreaks(run.text));
    const int id = run.link ? link_id : text_id;
    const DWORD style_bits =
        WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX | (run.link ? WS_TABSTOP : 0);
    HWND piece = CreateWindowExW(
        0, L"Static", text.c_str(), style_bits,
        box.left + run.x, box.top + run.line * line_height, run.width, line_height, parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    if (piece == nullptr) continue;
    if (run.link) {
      labels_.push_back(std::make_unique<LinkLabel>(piece, style.link_color, style.link_opacity,
                                                    style.link_font, style.background));
    } else {
      labels_.push_back(std::make_unique<TextLabel>(piece, style.text_color, style.text_opacity,
                                                    style.text_font, style.background,
                                                    DT_SINGLELINE | DT_NOPREFIX));
    }
    runs_.push_back(run);
    ++made;
  }
  return made;
}

void LicenseSentence::Destroy() {
  for (const std::unique_ptr<TextLabel>& label : labels_) {
    if (label->hwnd() != nullptr) DestroyWindow(label->hwnd());
  }
  labels_.clear();
  runs_.clear();
}

}  // namespace lite_installer

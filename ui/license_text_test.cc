#include "ui/license_text.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/scoped_handle.h"
#include "tests/support/ui_canvas.h"

namespace installer {
namespace {

using Tokens = std::vector<LicenseToken>;

std::wstring Describe(const Tokens& tokens) {
  std::wstring text;
  for (const LicenseToken& token : tokens) {
    text += token.link ? L"[L:" : L"[";
    text += token.text;
    text += L"]";
  }
  return text;
}

TEST(LicenseTokenizerTest, SplitsWordsLinksAndLineBreaks) {
  struct Case {
    const wchar_t* text;
    Tokens expected;
  };
  const Case cases[] = {
      {L"", {}},
      {L"word", {{L"word", false}}},
      {L"two words", {{L"two ", false}, {L"words", false}}},
      {L"spaces   kept  ", {{L"spaces   ", false}, {L"kept  ", false}}},
      {L"  leading", {{L"  ", false}, {L"leading", false}}},
      {L"By using Zorvin Browser, you agree to the Terms and Conditions of the "
       L"((License Agreement)).",
       {{L"By ", false}, {L"using ", false}, {L"Zorvin ", false}, {L"Browser, ", false},
        {L"you ", false}, {L"agree ", false}, {L"to ", false}, {L"the ", false},
        {L"Terms ", false}, {L"and ", false}, {L"Conditions ", false}, {L"of ", false},
        {L"the ", false}, {L"License Agreement", true}, {L".", false}}},
      // No "((": plain pieces only, even with a stray closing marker.
      {L"no link)) here", {{L"no ", false}, {L"link)) ", false}, {L"here", false}}},
      // Unclosed "((": the rest is one link, spaces and line breaks included.
      {L"see ((the rest\nof it", {{L"see ", false}, {L"the rest\nof it", true}}},
      {L"((", {}},
      {L"(())", {}},
      {L"a((b))c", {{L"a", false}, {L"b", true}, {L"c", false}}},
      {L"((one)) ((two))", {{L"one", true}, {L" ", false}, {L"two", true}}},
      {L"line\nbreak", {{L"line\n", false}, {L"break", false}}},
      {L"end \n\nnext", {{L"end ", false}, {L"\n", false}, {L"\n", false}, {L"next", false}}},
      {L"x ((y ((z)) w", {{L"x ", false}, {L"y ((z", true}, {L" ", false}, {L"w", false}}},
      {L"(single( paren", {{L"(single( ", false}, {L"paren", false}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Describe(TokenizeLicenseText(c.text)), Describe(c.expected))
        << std::wstring(c.text);
  }
}

std::wstring Describe(const std::vector<LicenseRun>& runs) {
  std::wstring text;
  for (const LicenseRun& run : runs) {
    text += L"(" + std::to_wstring(run.line) + L"," + std::to_wstring(run.x) + L"," +
            std::to_wstring(run.width) + (run.link ? L",L:" : L":") + run.text + L")";
  }
  return text;
}

TEST(LicenseLayoutTest, FillsLinesUpToTheBoxWidth) {
  struct Case {
    const char* name;
    Tokens tokens;
    std::vector<int> widths;
    int box_width;
    std::vector<LicenseRun> expected;
  };
  const Case cases[] = {
      {"nothing", {}, {}, 100, {}},
      {"one line joins plain tokens",
       {{L"a ", false}, {L"b ", false}, {L"c", false}}, {10, 10, 10}, 100,
       {{L"a b c", false, 0, 0, 30}}},
      {"exact fit stays on the line",
       {{L"a ", false}, {L"b", false}}, {50, 50}, 100,
       {{L"a b", false, 0, 0, 100}}},
      {"one pixel over breaks",
       {{L"a ", false}, {L"b", false}}, {50, 51}, 100,
       {{L"a ", false, 0, 0, 50}, {L"b", false, 0, 1, 51}}},
      {"a link starts a run after the text",
       {{L"agree ", false}, {L"Licence", true}, {L".", false}}, {40, 30, 5}, 100,
       {{L"agree ", false, 0, 0, 40}, {L"Licence", true, 40, 0, 30}, {L".", false, 70, 0, 5}}},
      {"a link that does not fit moves to the next line",
       {{L"some ", false}, {L"text ", false}, {L"Licence", true}, {L".", false}},
       {30, 30, 50, 5}, 100,
       {{L"some text ", false, 0, 0, 60}, {L"Licence", true, 0, 1, 50}, {L".", false, 50, 1, 5}}},
      {"the width counted is the run's, from its x",
       {{L"aa ", false}, {L"L", true}, {L"bb ", false}, {L"cc", false}}, {40, 20, 30, 20}, 100,
       {{L"aa ", false, 0, 0, 40}, {L"L", true, 40, 0, 20}, {L"bb ", false, 60, 0, 30},
        {L"cc", false, 0, 1, 20}}},
      {"a line break ends the line",
       {{L"one\n", false}, {L"two", false}}, {20, 20}, 100,
       {{L"one\n", false, 0, 0, 20}, {L"two", false, 0, 1, 20}}},
      {"blank lines count",
       {{L"a\n", false}, {L"\n", false}, {L"b", false}}, {10, 0, 10}, 100,
       {{L"a\n", false, 0, 0, 10}, {L"\n", false, 0, 1, 0}, {L"b", false, 0, 2, 10}}},
      {"a token wider than the box stands alone and the first stays on line 0",
       {{L"huge ", false}, {L"x", false}}, {150, 10}, 100,
       {{L"huge ", false, 0, 0, 150}, {L"x", false, 0, 1, 10}}},
      {"missing widths count as zero",
       {{L"a ", false}, {L"b", false}}, {60}, 100,
       {{L"a b", false, 0, 0, 60}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Describe(LayoutLicenseRuns(c.tokens, c.widths, c.box_width)),
              Describe(c.expected))
        << c.name;
  }
}

TEST(LicenseLayoutTest, LinesJoinTheirRunsWithoutBreaks) {
  const std::vector<LicenseRun> runs = {{L"a ", false, 0, 0, 1},
                                        {L"link", true, 1, 0, 1},
                                        {L"end\n", false, 0, 1, 1},
                                        {L"last", false, 0, 3, 1}};
  const std::vector<std::wstring> expected = {L"a link", L"end", L"", L"last"};
  EXPECT_EQ(LicenseRunLines(runs), expected);
}

}  // namespace
}  // namespace installer

namespace lite_installer {
namespace {

constexpr int kTextId = 1053;
constexpr int kLinkId = 1054;

std::vector<HWND> ChildrenWithId(HWND parent, int id) {
  std::vector<HWND> found;
  for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    if (GetDlgCtrlID(child) == id) found.push_back(child);
  }
  return found;
}

std::wstring WindowText(HWND window) {
  wchar_t buffer[256] = {};
  GetWindowTextW(window, buffer, 256);
  return buffer;
}

// The sentence of the offer screen in a box narrower than it: pieces on several lines,
// each a child control with the right id, together giving back the sentence.
TEST(LicenseSentenceTest, CreatesTextAndLinkPieces) {
  test_support::UiTestEnvironment environment;
  test_support::TestWindow parent(400, 200);
  platform::ScopedFont font(CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                        DEFAULT_CHARSET, 0, 0, 0, 0, L"Arial"));
  platform::ScopedFont link_font(CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, TRUE, FALSE,
                                             DEFAULT_CHARSET, 0, 0, 0, 0, L"Arial"));
  LicenseSentence::Style style;
  style.text_font = font.get();
  style.link_font = link_font.get();
  const RECT box = {20, 10, 220, 200};
  LicenseSentence sentence;
  const int made = sentence.Create(
      parent.hwnd(),
      L"By using Zorvin Browser, you agree to the Terms and Conditions of the "
      L"((License Agreement)).",
      box, style, kTextId, kLinkId);
  ASSERT_GE(made, 3);
  EXPECT_EQ(static_cast<size_t>(made), sentence.piece_count());

  const std::vector<HWND> texts = ChildrenWithId(parent.hwnd(), kTextId);
  const std::vector<HWND> links = ChildrenWithId(parent.hwnd(), kLinkId);
  EXPECT_EQ(texts.size() + links.size(), static_cast<size_t>(made));
  ASSERT_GE(links.size(), 1u);

  std::wstring joined;
  std::wstring link_text;
  int last_line = 0;
  for (const installer::LicenseRun& run : sentence.runs()) {
    joined += run.text;
    if (run.link) link_text += run.text;
    last_line = run.line;
    // Nothing reaches past the box but a single word wider than it.
    EXPECT_LE(run.x + run.width, box.right - box.left) << std::wstring(run.text);
  }
  EXPECT_EQ(joined,
            L"By using Zorvin Browser, you agree to the Terms and Conditions of the "
            L"License Agreement.");
  EXPECT_EQ(link_text.find(L"License"), 0u);
  EXPECT_GE(last_line, 1);

  // Each piece sits at the box origin plus its run's place, one text height per line.
  TEXTMETRICW metrics = {};
  HDC screen = GetDC(nullptr);
  HGDIOBJ old = SelectObject(screen, font.get());
  GetTextMetricsW(screen, &metrics);
  SelectObject(screen, old);
  ReleaseDC(nullptr, screen);
  size_t index = 0;
  for (HWND child = GetWindow(parent.hwnd(), GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT), ++index) {
    ASSERT_LT(index, sentence.runs().size());
    const installer::LicenseRun& run = sentence.runs()[index];
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, parent.hwnd(), reinterpret_cast<POINT*>(&rect), 2);
    EXPECT_EQ(rect.left, box.left + run.x);
    EXPECT_EQ(rect.top, box.top + run.line * metrics.tmHeight);
    EXPECT_EQ(GetDlgCtrlID(child), run.link ? kLinkId : kTextId);
    EXPECT_EQ(WindowText(child), std::wstring(installer::TrimTrailingLineBreaks(run.text)));
  }

  // A click on a link piece reaches the window as a command with the link id.
  parent.commands().clear();
  SendMessageW(links[0], WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
  SendMessageW(links[0], WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
  ASSERT_EQ(parent.commands().size(), 1u);
  EXPECT_EQ(parent.commands()[0], kLinkId);
  // A click on a plain piece does not.
  parent.commands().clear();
  SendMessageW(texts[0], WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
  SendMessageW(texts[0], WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
  EXPECT_TRUE(parent.commands().empty());

  sentence.Destroy();
  EXPECT_EQ(GetWindow(parent.hwnd(), GW_CHILD), nullptr);
}

TEST(LicenseSentenceTest, WindowMayDestroyPiecesFirst) {
  test_support::UiTestEnvironment environment;
  test_support::TestWindow parent(300, 100);
  LicenseSentence::Style style;
  LicenseSentence sentence;
  ASSERT_EQ(sentence.Create(parent.hwnd(), L"Read the ((terms))", RECT{0, 0, 300, 100}, style,
                            kTextId, kLinkId),
            2);
  for (HWND piece : ChildrenWithId(parent.hwnd(), kLinkId)) DestroyWindow(piece);
  for (HWND piece : ChildrenWithId(parent.hwnd(), kTextId)) DestroyWindow(piece);
  sentence.Destroy();  // must not touch the dead handles
  EXPECT_EQ(GetWindow(parent.hwnd(), GW_CHILD), nullptr);
}

}  // namespace
}  // namespace lite_installer

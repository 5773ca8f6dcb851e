#include "stats/click_stats.h"

#include <gtest/gtest.h>

#include <string>

#include "build_config/endpoints.h"
#include "platform/strings.h"

namespace installer {
namespace {

std::wstring Prefix() {
  return L"https://" + platform::Widen(endpoints::kClickCounterHost) +
         L"/redir/dtype=stred/pid=457/cid=72696/path=zvbrowser_reinstall_dialog"
         L"&dialog_window=liteinstall&";
}

TEST(ClickStatsTest, CounterUrlForEachClick) {
  const struct {
    const wchar_t* kind;
    const wchar_t* value;
    const wchar_t* tail;
  } kCases[] = {
      {kClickedButton, kClickInstall, L"clicked_button=install"},
      {kClickedButton, kClickCancel, L"clicked_button=cancel"},
      {kChoosenCheckbox, kCheckboxDefault, L"choosen_checkbox=default"},
      {kChoosenCheckbox, kCheckboxSendStat, L"choosen_checkbox=sendstat"},
      // Links go in as they stand: their "?", "&" and "/" are not escaped.
      {kClickedLink, L"https://legal.example.test/browser_agreement/?lang=ru",
       L"clicked_link=https://legal.example.test/browser_agreement/?lang=ru"},
      {kClickedLink, L"https://legal.example.test/confidential/?a=1&b=two words",
       L"clicked_link=https://legal.example.test/confidential/?a=1&b=two words"},
      {kClickedLink, L"", L"clicked_link="},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(Prefix() + c.tail, ClickCounterUrl(c.kind, c.value)) << c.tail;
  }
}

TEST(ClickStatsTest, PrefixIsOneConstantOnTheCounterHost) {
  EXPECT_EQ(Prefix(), ClickCounterPrefix());
  EXPECT_EQ(L'&', ClickCounterPrefix().back());
}

}  // namespace
}  // namespace installer

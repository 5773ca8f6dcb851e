#include "stats/click_reporter.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "build_config/endpoints.h"
#include "download/async_http_requests.h"
#include "platform/strings.h"

namespace installer {
namespace {

// Keeps the posted URLs instead of queueing them for the network.
class PostedUrls : public AsyncHttpRequests {
 public:
  void Post(const std::wstring& url) override { posted.push_back(url); }
  std::vector<std::wstring> posted;
};

std::wstring Counter(const std::wstring& tail) {
  return L"https://" + platform::Widen(endpoints::kClickCounterHost) +
         L"/redir/dtype=stred/pid=457/cid=72696/path=zvbrowser_reinstall_dialog"
         L"&dialog_window=liteinstall&" + tail;
}

TEST(ClickReporterTest, EachClickQueuesOneCounterRequestInOrder) {
  PostedUrls requests;
  ClickReporter reporter(&requests);
  reporter.ReportButton(L"install");
  reporter.ReportCheckbox(L"default");
  reporter.ReportCheckbox(L"default");
  reporter.ReportCheckbox(L"sendstat");
  reporter.ReportLink(L"https://legal.example/browser_agreement/?lang=ru&x=1");
  reporter.ReportButton(L"cancel");
  const std::vector<std::wstring> expected = {
      Counter(L"clicked_button=install"),
      Counter(L"choosen_checkbox=default"),
      // A second toggle is a second, identical request.
      Counter(L"choosen_checkbox=default"),
      Counter(L"choosen_checkbox=sendstat"),
      // The link arrives unescaped, with its own query.
      Counter(L"clicked_link=https://legal.example/browser_agreement/?lang=ru&x=1"),
      Counter(L"clicked_button=cancel"),
  };
  EXPECT_EQ(expected, requests.posted);
}

}  // namespace
}  // namespace installer

// Queues one click-counter request per press of a button, link or check box.
//
// The window calls the `Installer`, which forwards to its `ClickReporter`; the request goes
// on the installer's one `AsyncHttpRequests` queue and is sent on its worker, whatever the
// user chose about usage statistics. Calls come from the window's thread and never wait for
// the network.
#ifndef STATS_CLICK_REPORTER_H_
#define STATS_CLICK_REPORTER_H_

#include <string>
#include <string_view>

namespace installer {

class AsyncHttpRequests;

class ClickReporter {
 public:
  // `requests` is not owned and must outlive the reporter.
  explicit ClickReporter(AsyncHttpRequests* requests) : requests_(requests) {}
  ClickReporter(const ClickReporter&) = delete;
  ClickReporter& operator=(const ClickReporter&) = delete;

  // "clicked_button" with "install" or "cancel".
  void ReportButton(std::wstring_view value);
  // "clicked_link" with the full URL that was opened (its own "?" and "&" included).
  void ReportLink(std::wstring_view url);
  // "choosen_checkbox" with "default" or "sendstat"; every toggle counts.
  void ReportCheckbox(std::wstring_view value);

 private:
  void Report(std::wstring_view kind, std::wstring_view value);

  AsyncHttpRequests* requests_;
};

}  // namespace installer

#endif  // STATS_CLICK_REPORTER_H_

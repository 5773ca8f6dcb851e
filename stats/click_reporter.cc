#include "stats/click_reporter.h"

#include "download/async_http_requests.h"
#include "stats/click_stats.h"

namespace installer {

void ClickReporter::ReportButton(std::wstring_view value) { Report(kClickedButton, value); }

void ClickReporter::ReportLink(std::wstring_view url) { Report(kClickedLink, url); }

void ClickReporter::ReportCheckbox(std::wstring_view value) { Report(kChoosenCheckbox, value); }

void ClickReporter::Report(std::wstring_view kind, std::wstring_view value) {
  requests_->Post(ClickCounterUrl(kind, value));
}

}  // namespace installer

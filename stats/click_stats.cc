#include "stats/click_stats.h"

#include "build_config/endpoints.h"
#include "platform/strings.h"

namespace installer {

std::wstring ClickCounterPrefix() {
  std::wstring url = L"https://";
  url += platform::Widen(endpoints::kClickCounterHost);
  url += L"/redir/dtype=stred/pid=457/cid=72696/path=zvbrowser_reinstall_dialog"
         L"&dialog_window=liteinstall&";
  return url;
}

std::wstring ClickCounterUrl(std::wstring_view kind, std::wstring_view value) {
  std::wstring url = ClickCounterPrefix();
  url.append(kind);
  url += L'=';
  url.append(value);
  return url;
}

}  // namespace installer

#include "stats/click_stats.h"

#include "build_config/endpoints.h"
#include "platform/url_escape.h"

namespace installer {

std::wstring ClickCounterPrefix() {
  return platform::WideHttpsUrl(endpoints::kClickCounterHost,
                                L"/redir/dtype=stred/pid=457/cid=72696/"
                                L"path=zvbrowser_reinstall_dialog&dialog_window=liteinstall&");
}

std::wstring ClickCounterUrl(std::wstring_view kind, std::wstring_view value) {
  std::wstring url = ClickCounterPrefix();
  url.append(kind);
  url += L'=';
  url.append(value);
  return url;
}

}  // namespace installer

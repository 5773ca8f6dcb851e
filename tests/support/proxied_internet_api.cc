#include "tests/support/proxied_internet_api.h"

namespace test_support {

HINTERNET ProxiedInternetApi::Open(const wchar_t* agent, DWORD, const wchar_t*, const wchar_t*,
                                   DWORD flags) {
  return real()->Open(agent, INTERNET_OPEN_TYPE_PROXY, proxy_.c_str(), nullptr, flags);
}

}  // namespace test_support

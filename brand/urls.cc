#include "brand/urls.h"

#include <algorithm>
#include <iterator>

#include "build_config/endpoints.h"
#include "platform/logging.h"
#include "platform/strings.h"
#include "platform/url_escape.h"

namespace installer {
namespace {

// Sorted, so that the lookup can be a binary search.
constexpr std::string_view kForwardedDownloadParams[] = {
    "banerid", "beta",  "betacusto", "bgid",       "calypso", "custo",
    "expcalypso", "football", "lang", "partner_id", "tablo", "zvpartner_id",
};

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// Bytes that a browser's URL handler, a command line or a server could read as something
// other than part of the value.
bool MustEscape(unsigned char c) {
  if (c <= 0x20 || c >= 0x7F) return true;
  switch (c) {
    case '"':
    case '\'':
    case '<':
    case '>':
    case '\\':
    case '^':
    case '`':
    case '{':
    case '|':
    case '}':
    case '#':
    case '&':
      return true;
    default:
      return false;
  }
}

std::wstring LinkWithLanguage(const std::string& page, const BrandInfo& brand_info) {
  return platform::WidenUtf8(page + "?lang=" + EscapeUrlValue(brand_info.language()));
}

}  // namespace

std::string EscapeUrlValue(std::string_view value) {
  std::string escaped;
  escaped.reserve(value.size());
  for (size_t i = 0; i < value.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(value[i]);
    const bool lone_percent = c == '%' && !(i + 2 < value.size() && IsHexDigit(value[i + 1]) &&
                                            IsHexDigit(value[i + 2]));
    if (MustEscape(c) || lone_percent) {
      escaped += '%';
      escaped += platform::kUpperHexDigits[c >> 4];
      escaped += platform::kUpperHexDigits[c & 0xF];
    } else {
      escaped += static_cast<char>(c);
    }
  }
  return escaped;
}

RegionalSite RegionalSiteForBrandId(std::string_view brand_id) {
  if (brand_id == "by") return RegionalSite::kBelarusian;
  if (brand_id == "int") return RegionalSite::kInternational;
  if (brand_id == "tb") return RegionalSite::kTurkish;
  if (brand_id == "ua" || brand_id == "ua-uk" || brand_id == "ua-ru") {
    return RegionalSite::kUkrainian;
  }
  return RegionalSite::kRussian;
}

const char* RegionalSiteHost(RegionalSite site) {
  switch (site) {
    case RegionalSite::kBelarusian:
      return endpoints::kSiteByHost;
    case RegionalSite::kInternational:
      return endpoints::kSiteIntHost;
    case RegionalSite::kTurkish:
      return endpoints::kSiteTrHost;
    case RegionalSite::kUkrainian:
      return endpoints::kSiteUaHost;
    case RegionalSite::kRussian:
      break;
  }
  return endpoints::kSiteRuHost;
}

bool IsForwardedDownloadParam(std::string_view key) {
  return std::binary_search(std::begin(kForwardedDownloadParams),
                            std::end(kForwardedDownloadParams), key);
}

std::string GetInstallerSlideUrl(const BrandInfo& brand_info, bool tagged) {
  if (tagged && !brand_info.slide_url_if_tagged().empty()) {
    return brand_info.slide_url_if_tagged();
  }
  if (!tagged && !brand_info.slide_url().empty()) return brand_info.slide_url();
  LOG(WARNING, "GetInstallerSlideUrl")
      << "Deprecated. Use brand package for setting \"slide_url\" and \"slide_url_if_tagged\" "
         "in \"install\" section";
  std::string url = platform::HttpsUrl(endpoints::kDownloadHost, "/browser/installer/");
  if (tagged && brand_info.language() == "ru") url += "custom/";
  url += EscapeUrlValue(brand_info.language());
  url += "/";
  return url;
}

std::string GetFallbackDownloadUrl(const BrandInfo& brand_info, const DistribInfoParams& params) {
  std::string url =
      platform::HttpsUrl(RegionalSiteHost(RegionalSiteForBrandId(brand_info.brand_id())),
                         "/download?");
  for (const auto& [key, value] : params.params()) {
    if (!IsForwardedDownloadParam(key)) continue;
    // A "lang" that is no language code was ignored at start: it is not forwarded either.
    if (key == "lang" && !IsLanguageCode(value)) continue;
    url += key;
    url += '=';
    url += EscapeUrlValue(value);
    url += '&';
  }
  url += "full=1&code=lite_install_failed";
  return url;
}

std::wstring GetLicenseLinkUrl(const BrandInfo& brand_info) {
  return LinkWithLanguage(brand_info.license_url(), brand_info);
}

std::wstring GetPrivacyLinkUrl(const BrandInfo& brand_info) {
  return LinkWithLanguage(brand_info.conf_policy_url(), brand_info);
}

}  // namespace installer

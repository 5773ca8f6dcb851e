// URLs built from the resolved brand settings: the slide shown by the installer window, the
// download page offered when installation fails, and the licence page link.
//
// Pure string building over `BrandInfo` and `DistribInfoParams`; the hosts come from the
// build's endpoint table. Values are copied unchanged (no escaping): the documents and the
// distribution parameters already hold URL text.
#ifndef BRAND_URLS_H_
#define BRAND_URLS_H_

#include <string>
#include <string_view>

#include "brand/brand_info.h"
#include "brand/distrib_info_params.h"

namespace installer {

// The regional download sites that the fallback download page can point to.
enum class RegionalSite { kRussian, kBelarusian, kInternational, kTurkish, kUkrainian };

// The site for a brand identifier; exact, case-sensitive, and anything unknown (including
// spellings with an underscore such as "ua_uk") gives the Russian site.
RegionalSite RegionalSiteForBrandId(std::string_view brand_id);
// The host of a site, from the endpoint table.
const char* RegionalSiteHost(RegionalSite site);

// The distribution parameters that are forwarded to the fallback download page.
bool IsForwardedDownloadParam(std::string_view key);

// The slide URL for the installer window. A tagged installer (its distribution parameters
// carry "banner") uses `slide_url_if_tagged`, an untagged one `slide_url`; when that field is
// empty a warning is logged and the default slide on the download server is returned
// (".../custom/ru/" for a tagged Russian installer). A tagged installer never falls back to
// `slide_url`.
std::string GetInstallerSlideUrl(const BrandInfo& brand_info, bool tagged);

// The regional "/download" page with the forwarded distribution parameters (ascending key,
// values unchanged), then "full=1&code=lite_install_failed".
std::string GetFallbackDownloadUrl(const BrandInfo& brand_info, const DistribInfoParams& params);

// `license_url` + "?lang=" + `language`, widened byte by byte.
std::wstring GetLicenseLinkUrl(const BrandInfo& brand_info);

}  // namespace installer

#endif  // BRAND_URLS_H_

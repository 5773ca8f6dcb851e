// URLs built from the resolved brand settings: the slide shown by the installer window, the
// download page offered when installation fails, and the licence page link.
//
// Pure string building over `BrandInfo` and `DistribInfoParams`; the hosts come from the
// build's endpoint table. The URLs from the documents are taken as they stand (the packages are
// covered by the signature), but the interface language and the distribution parameters may
// come from the tag, which anyone can restamp. The tag's language is taken only as a language
// code (`DistribInfoParams::GetLanguage`), and every value put into a URL passes through
// `EscapeUrlValue`, so that no value can end its URL or add an argument when the shell hands
// the URL to a browser.
#ifndef BRAND_URLS_H_
#define BRAND_URLS_H_

#include <string>
#include <string_view>

#include "brand/brand_info.h"
#include "brand/distrib_info_params.h"

namespace installer {

// Percent-encodes the bytes of a value that may not stand in a URL as they are: control
// bytes, blanks, DEL, every byte above 0x7F (UTF-8 text becomes its escaped bytes), both
// quotes, < > \ ^ ` { | } # &, and a "%" that does not begin a "%xx" escape. Everything else
// stays, existing "%xx" escapes and "+" included, so servers read every ordinary value
// exactly as before.
std::string EscapeUrlValue(std::string_view value);

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
// (".../custom/ru/" for a tagged Russian installer, the language escaped). A tagged installer
// never falls back to `slide_url`.
std::string GetInstallerSlideUrl(const BrandInfo& brand_info, bool tagged);

// The regional "/download" page with the forwarded distribution parameters (ascending key,
// values escaped; a "lang" that is no language code is left out, as the entry ignored it),
// then "full=1&code=lite_install_failed".
std::string GetFallbackDownloadUrl(const BrandInfo& brand_info, const DistribInfoParams& params);

// `license_url` + "?lang=" + the escaped `language`, widened with `platform::WidenUtf8`.
std::wstring GetLicenseLinkUrl(const BrandInfo& brand_info);
// The same for the privacy page: `conf_policy_url` + "?lang=" + the escaped `language`.
std::wstring GetPrivacyLinkUrl(const BrandInfo& brand_info);

}  // namespace installer

#endif  // BRAND_URLS_H_

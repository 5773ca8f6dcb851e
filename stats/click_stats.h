// Click counters of the installer window: every press of a button, link or check box is one
// request to the click-counter server, queued with `AsyncHttpRequests::Post` whatever the
// user chose about usage statistics. The answer is ignored.
#ifndef STATS_CLICK_STATS_H_
#define STATS_CLICK_STATS_H_

#include <string>
#include <string_view>

namespace installer {

// Kinds of click, the key of the counter request.
inline constexpr wchar_t kClickedButton[] = L"clicked_button";    // "install", "cancel"
inline constexpr wchar_t kClickedLink[] = L"clicked_link";        // the URL that was opened
inline constexpr wchar_t kChoosenCheckbox[] = L"choosen_checkbox";  // "default", "sendstat"

// Values of the button and check-box kinds.
inline constexpr wchar_t kClickInstall[] = L"install";
inline constexpr wchar_t kClickCancel[] = L"cancel";
inline constexpr wchar_t kCheckboxDefault[] = L"default";
inline constexpr wchar_t kCheckboxSendStat[] = L"sendstat";

// The counter URL up to and including the "&" before the kind.
std::wstring ClickCounterPrefix();

// Prefix + kind + "=" + value. Nothing is escaped: a link brings its own "?" and "&" along,
// which is what the counter expects.
std::wstring ClickCounterUrl(std::wstring_view kind, std::wstring_view value);

}  // namespace installer

#endif  // STATS_CLICK_STATS_H_

// One step of the install flow as the statistics see it: an ordered map from narrow keys
// ("action", "stage", "error", "download_time", "setup_time", "uac") to wide values, in
// byte order of the keys. Built by the emitter, turned into one extended-statistics URL.
#ifndef STATS_INSTALL_EVENT_H_
#define STATS_INSTALL_EVENT_H_

#include <string>
#include <string_view>

#include "platform/string_map.h"

namespace installer {

using InstallEvent = platform::StringMap<std::wstring>;

// Sets one item. One function for every item the program sets, so that no caller builds
// and drops a key and a value of its own.
void SetEventValue(InstallEvent* event, const char* key, std::wstring_view value);

}  // namespace installer

#endif  // STATS_INSTALL_EVENT_H_

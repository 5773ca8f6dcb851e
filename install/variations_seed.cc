#include "install/variations_seed.h"

#include <windows.h>

#include "network/http_downloader.h"
#include "platform/base64.h"
#include "platform/file_util.h"
#include "platform/json_writer.h"
#include "platform/logging.h"

namespace installer {

void FetchVariationsSeed(const std::string& url, const platform::FilePath& target,
                         platform::WaitableEvent* cancel) {
  // The downloader stays alive after the body is in: the headers are read from its request.
  HttpDownloader downloader;
  VariationsSeed seed;
  if (!DownloadToString(url, cancel->handle(), &seed.body, &downloader, kMaxVariationsSeedBytes)) {
    return;
  }
  seed.signature = downloader.GetHeader(kSeedSignatureHeader);
  if (seed.signature.empty()) return;
  seed.last_modified = downloader.GetHeader(kLastModifiedHeader);
  seed.country = downloader.GetHeader(kCountryHeader);
  SaveVariations(target, seed);
}

void SaveVariations(const platform::FilePath& target, const VariationsSeed& seed) {
  const std::string encoded = platform::Base64Encode(seed.body);
  const struct {
    const char* key;
    const std::string* value;
  } members[] = {
      {"variations_seed_base64", &encoded},
      {"variations_seed_signature", &seed.signature},
      {"variations_last_modified_time", &seed.last_modified},
      {"variations_country", &seed.country},
  };
  platform::JsonObjectWriter writer(0);
  for (const auto& member : members) {
    // A value that is not UTF-8 cannot be written as JSON text.
    if (!writer.Add(member.key, *member.value)) {
      LOG(ERROR, "SaveVariations") << "Failed to serialize variations value " << member.key
                                   << ": " << *member.value;
      return;
    }
  }
  // The setup may read the file at any moment: it is written whole under a temporary name
  // in the same folder and then moved into place, so that it is either absent (or an earlier
  // run's) or complete, never half written. Names stay wide: the temporary folder lies under
  // the user's profile, whose name need not survive a conversion to the ANSI code page.
  // The temporary name comes from the target's, so that it can never be the target itself
  // (the target is a temporary name of the same folder).
  const platform::FilePath temp(target.value() + L".part");
  bool saved = platform::WriteWholeFile(temp, writer.Text()) &&
               MoveFileExW(temp.value().c_str(), target.value().c_str(),
                           MOVEFILE_REPLACE_EXISTING) != FALSE;
  if (!saved) {
    DWORD error = GetLastError();
    platform::DeletePath(temp, false);
    SetLastError(error);
    logging::LogWithValue(logging::kERROR, "SaveVariations", __LINE__,
                 "Failed to save downloaded variations update to ", target.value());
  }
}

}  // namespace installer

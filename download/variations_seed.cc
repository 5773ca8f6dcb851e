#include "download/variations_seed.h"

#include <stdio.h>

#include <jansson.h>

#include "download/http_downloader.h"
#include "platform/base64.h"
#include "startup/logging.h"

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
  json_t* object = json_object();
  if (object == nullptr) return;
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
  for (const auto& member : members) {
    // json_stringn refuses text that is not UTF-8; set_new takes the reference either way.
    json_t* value = json_stringn(member.value->data(), member.value->size());
    if (value == nullptr || json_object_set_new(object, member.key, value) != 0) {
      LOG(ERROR, "SaveVariations") << "Failed to serialize variations value " << member.key
                                   << ": " << *member.value;
      json_decref(object);
      return;
    }
  }
  // Opened by its wide name: the temporary folder lies under the user's profile, whose
  // name need not survive a conversion to the ANSI code page.
  FILE* file = _wfopen(target.value().c_str(), L"w");
  bool saved = false;
  if (file != nullptr) {
    saved = json_dumpf(object, file, 0) == 0;
    saved = fclose(file) == 0 && saved;
  }
  if (!saved) {
    LOG(ERROR, "SaveVariations") << "Failed to save downloaded variations update to "
                                 << target.value();
  }
  json_decref(object);
}

}  // namespace installer

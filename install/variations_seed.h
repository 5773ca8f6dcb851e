// The browser's variations seed, fetched for its first run.
//
// The seed (the server-side experiment configuration) is downloaded into memory together
// with three response headers and saved as one JSON object for the browser setup:
//   {"variations_seed_base64": "<body in Base64>", "variations_seed_signature": "...",
//    "variations_last_modified_time": "...", "variations_country": "..."}
// on one line, members in that order. A seed without a signature is useless to the browser
// and is not saved; header values must be valid UTF-8 to be stored.
#ifndef INSTALL_VARIATIONS_SEED_H_
#define INSTALL_VARIATIONS_SEED_H_

#include <string>

#include "platform/file_path.h"
#include "platform/sync.h"

namespace installer {

// Response headers the seed file is made from.
inline constexpr char kSeedSignatureHeader[] = "X-Seed-Signature";
inline constexpr char kLastModifiedHeader[] = "Last-Modified";
inline constexpr char kCountryHeader[] = "X-Country";

// What the seed file holds, as received (headers are raw bytes, empty when absent).
struct VariationsSeed {
  std::string body;
  std::string signature;
  std::string last_modified;
  std::string country;
};

// Downloads `url` into memory (cancelled by `cancel`) and, when the answer carries a
// non-empty "X-Seed-Signature", saves it to `target` with `SaveVariations`. A failed or
// cancelled download, or a missing signature, writes nothing; only the download client logs.
void FetchVariationsSeed(const std::string& url, const platform::FilePath& target,
                         platform::WaitableEvent* cancel);

// Writes the seed file, whole or not at all: as the target's name with ".part" added, then
// moved onto the target. A value that is not valid UTF-8 logs "Failed to serialize
// variations value <key>: <value>" and nothing is written; a file that cannot be written or
// moved logs "Failed to save downloaded variations update to <path>", and the temporary
// file is removed (the target keeps what it held).
void SaveVariations(const platform::FilePath& target, const VariationsSeed& seed);

}  // namespace installer

#endif  // INSTALL_VARIATIONS_SEED_H_

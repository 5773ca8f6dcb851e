// Distribution parameters of this copy of the installer.
//
// A copy can carry a short query string ("key=value&key=value") stamped into the certificate
// area of its own file (the tag) or passed with the "distr-info-params" switch. The installer
// reads a few parameters itself ("lang", "uac", "def", "stat", ...), remembers the raw text in
// the registry, and hands all of them to the browser setup program as the JSON file
// "distrib_info". Built once on the main thread at start-up; read-only afterwards.
#ifndef BRAND_DISTRIB_INFO_PARAMS_H_
#define BRAND_DISTRIB_INFO_PARAMS_H_

#include <string>
#include <string_view>

#include "platform/string_map.h"

namespace installer {

// The registry value that keeps the raw parameter text.
inline constexpr char kDistribInfoParamsValue[] = "DistribInfoParams";

class DistribInfoParams {
 public:
  using ParamMap = platform::StringMap<std::string>;

  DistribInfoParams();
  virtual ~DistribInfoParams();
  DistribInfoParams(const DistribInfoParams&) = delete;
  DistribInfoParams& operator=(const DistribInfoParams&) = delete;

  // True, with the value, when the parameter exists; `value` is untouched otherwise.
  virtual bool Get(std::string_view key, std::string* value) const;
  // Whether parameters saved by an earlier run are to be used: never, in this program.
  virtual bool UseSavedParams() const { return false; }
  // Stores the raw parameter text in the registry value "DistribInfoParams".
  virtual void Save(const std::string& raw_text);
  // Full path of the installer's own file; empty on failure.
  virtual std::wstring GetOwnPath() const;

  // "1" gives true with *flag set, "2" true with *flag clear; anything else (or a missing
  // key) false with *flag clear.
  bool GetBool(std::string_view key, bool* flag) const;
  // The "lang" parameter, taken only when it is a language code (`IsLanguageCode`): true with
  // the code. Any other value is ignored as if it were absent, with a WARNING line: the tag
  // lies outside the signature, and the language goes into URLs and the registry.
  bool GetLanguage(std::string* language) const;
  bool Has(std::string_view key) const { return params_.count(key) != 0; }

  // Gathers the parameters (switch, else the tag of the own file), saves the raw text,
  // parses it and writes "distrib_info" to the temporary folder. Returns whether
  // distr_info_file() is non-empty.
  bool CreateJsonFromDistribParams();

  const std::wstring& distr_info_file() const { return distr_info_file_; }
  const ParamMap& params() const { return params_; }

  void SetParamsForTesting(ParamMap params) { params_ = std::move(params); }

  // `CreateJsonFromDistribParams` with `switch_value` standing for the value of the
  // "distr-info-params" switch, so a test need not replace the process command line.
  bool CreateJsonFromDistribParamsForTesting(const std::wstring& switch_value);

 private:
  bool CreateJsonFromText(const std::wstring& switch_value);

 protected:
  std::wstring distr_info_file_;
  ParamMap params_;
};

// A language code as the tag may give it ("tr", "pt-BR"): at most 16 of A-Z, a-z, 0-9 and
// "-". The empty text counts as one (the user's own language is taken then).
bool IsLanguageCode(std::string_view text);

// Tag layout: "Zvct", a big-endian 16-bit length N, then N bytes of parameter text, placed
// in the certificate table behind the first entry's PKCS#7 blob at an 8-byte boundary.
inline constexpr char kTagMagic[] = "Zvct";
inline constexpr size_t kTagHeaderSize = 6;

// The tag text inside the bytes of a whole PE file, as a view into `file`; empty when the
// file has no tag or any structure on the way (DOS header, PE signature, security
// directory, certificate entry, DER length) is missing, zero or out of bounds. Never reads
// outside `file`.
std::string_view FindTag(std::string_view file);

// The tag text of the file at `path` (mapped read-only); empty when the file cannot be
// opened or mapped or has no tag.
std::string ReadTag(const std::wstring& path);

// Splits "key=value&key=value" into a map. Keys and values are taken byte for byte (no
// percent-decoding, "+" stays "+"); a pair without "=" or with nothing after it has an empty
// value, a pair that begins with "=" has an empty key, and a repeated key keeps its last
// value. An empty text gives an empty map.
DistribInfoParams::ParamMap ParseDistribParams(std::string_view text);

// The "distrib_info" document: a JSON object with one string member per parameter, in map
// order, indented by 2. A key or value that is not valid UTF-8 gives no member. False only
// when the serialiser fails.
bool BuildDistribInfoJson(const DistribInfoParams::ParamMap& params, std::string* json);

}  // namespace installer

#endif  // BRAND_DISTRIB_INFO_PARAMS_H_

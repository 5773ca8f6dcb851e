// Distribution parameters of this copy of the installer.
//
// A copy can carry a short query string ("key=value&key=value") stamped into the certificate
// area of its own file (the tag) or passed with the "distr-info-params" switch. The installer
// reads a few parameters itself ("lang", "uac", "def", "stat", ...), remembers the raw text in
// the registry, and hands all of them to the browser setup program as the JSON file
// "distrib_info". Built once on the main thread at start-up; read-only afterwards.
#ifndef BRAND_DISTRIB_INFO_PARAMS_H_
#define BRAND_DISTRIB_INFO_PARAMS_H_

#include <map>
#include <string>

namespace installer {

class DistribInfoParams {
 public:
  using ParamMap = std::map<std::string, std::string>;

  DistribInfoParams();
  virtual ~DistribInfoParams();
  DistribInfoParams(const DistribInfoParams&) = delete;
  DistribInfoParams& operator=(const DistribInfoParams&) = delete;

  // True, with the value, when the parameter exists; `value` is untouched otherwise.
  virtual bool Get(const std::string& key, std::string* value) const;
  // Whether parameters saved by an earlier run are to be used: never, in this program.
  virtual bool UseSavedParams() const { return false; }
  // Stores the raw parameter text in the registry value "DistribInfoParams".
  virtual void Save(const std::string& raw_text);
  // Full path of the installer's own file; empty on failure.
  virtual std::wstring GetOwnPath() const;

  // "1" gives true with *flag set, "2" true with *flag clear; anything else (or a missing
  // key) false with *flag clear.
  bool GetBool(const std::string& key, bool* flag) const;
  bool Has(const std::string& key) const { return params_.count(key) != 0; }

  // Gathers the parameters (switch, else the tag of the own file), saves the raw text,
  // parses it and writes "distrib_info" to the temporary folder. Returns whether
  // distr_info_file() is non-empty.
  bool CreateJsonFromDistribParams();

  const std::wstring& distr_info_file() const { return distr_info_file_; }
  const ParamMap& params() const { return params_; }

  void SetParamsForTesting(ParamMap params) { params_ = std::move(params); }

 protected:
  std::wstring distr_info_file_;
  ParamMap params_;
};

}  // namespace installer

#endif  // BRAND_DISTRIB_INFO_PARAMS_H_

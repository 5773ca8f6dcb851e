// The resolved brand settings of one installer run.
//
// A copy of the installer carries a brand (which setup archive to fetch, which legal pages to
// link, the window title, the slide, the initial state of the two choices, the interface
// language) and possibly a partner that overrides any of it. `BrandInfo` is filled once on the
// main thread: `GetInfo` reads the partner document and then the brand document out of the
// packages in the executable's resources, the entry flow may replace `language`, and
// `ApplyDefaults` fills whatever is still empty. Afterwards the record is only read.
//
// Invariant (first writer wins): a document writes a string field only while it is empty and a
// tri-state only while it is kUnset, so the partner beats the brand and the defaults fill the
// rest. A key holding an empty string leaves the field empty for a later source.
//
// Byte-string fields hold the documents' UTF-8 unchanged; paths are wide strings.
#ifndef BRAND_BRAND_INFO_H_
#define BRAND_BRAND_INFO_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace installer {

class BrandEnvironment;  // brand/brand_packages.h

// A 32-bit setting that a document may leave unset; JSON true and false give kTrue and kFalse.
enum Tristate : uint32_t {
  kUnset = 0,
  kTrue = 1,
  kFalse = 2,
};

class BrandInfo {
 public:
  // `work_dir` is the folder for the package files, with its trailing backslash (the user's
  // temporary folder). Every other string starts empty, the flags 0, the tri-states kUnset.
  explicit BrandInfo(std::wstring work_dir);
  virtual ~BrandInfo();
  BrandInfo(const BrandInfo&) = delete;
  BrandInfo& operator=(const BrandInfo&) = delete;

  // Logs "Reset brand info." and empties every setting (language_id back to 1033, tri-states
  // to kUnset). `variations_url`, `work_dir` and the two loaded flags are kept.
  virtual void Clear();

  // Fills the record from the packages; `brand_name` is the value of the "brand-name" switch
  // (empty when absent). Clears the record, removes the values an earlier run saved, sets the
  // two package paths and calls `GetInfoFromResources`. Never fails; what no package gives is
  // left to `ApplyDefaults`.
  void GetInfo(const std::wstring& brand_name);
  // Reads the partner package (resource 320) and then the brand package chosen by
  // `brand_name` ("auto", a name, or empty for the default package 319), writes each package
  // found to its file and sets its loaded flag.
  void GetInfoFromResources(const std::wstring& brand_name);

  // Extracts the member `member_name` ("partner_config" or "brand_config") from the cabinet
  // `package` and applies it with `ApplyConfigDocument`. A package without the member changes
  // nothing and logs nothing.
  void ReadConfig(std::string_view package, const std::string& member_name);
  // Parses `json_text` and applies its keys under the first-writer-wins rule, then logs the
  // summary. Text that does not parse leaves every field as it was (the summary is still
  // logged). Returns whether the text parsed.
  bool ApplyConfigDocument(std::string_view json_text);

  // Fills what is still empty with the built-in defaults, recomputes `language_id` and logs
  // the summary. Afterwards brand_id, brand_name, setup_url, license_url, conf_policy_url,
  // language and variations_url are never empty.
  void ApplyDefaults();

  // Ten INFO lines under "LogBrandInfo" (brand id, name, setup URL, language, both slides and
  // the four views as 1 or 0).
  void LogBrandInfo() const;

  // Where `GetInfo` takes its packages, region and language from and how it removes saved
  // values; the default reads the own module's "BIN" resources. Not owned; must outlive the
  // record's `GetInfo` calls.
  void SetEnvironmentForTesting(BrandEnvironment* environment) { environment_ = environment; }

  // Views used by the window, the install flow and the statistics.
  // The send-statistics choice starts on unless a document said false.
  bool ShouldSendStatistics() const { return send_statistics_ != kFalse; }
  // The make-default choice starts on unless a document said false.
  bool ShouldMakeBrowserDefault() const { return make_browser_default_ != kFalse; }
  // The international window title only when a document said true.
  bool UseAlternateInstallerTitle() const { return alternate_installer_title_ == kTrue; }
  // The plain (non-"/flash/") setup archive only when a document said true.
  bool IsPpapi() const { return need_ppapi_flash_ == kTrue; }

  // Accessors, in declaration order.
  const std::string& setup_url() const { return setup_url_; }
  const std::string& brand_id() const { return brand_id_; }
  const std::string& brand_name() const { return brand_name_; }
  const std::string& language() const { return language_; }
  uint32_t language_id() const { return language_id_; }
  const std::string& license_url() const { return license_url_; }
  const std::string& conf_policy_url() const { return conf_policy_url_; }
  const std::wstring& work_dir() const { return work_dir_; }
  const std::wstring& brand_package_path() const { return brand_package_path_; }
  const std::wstring& partner_package_path() const { return partner_package_path_; }
  const std::string& partner_id() const { return partner_id_; }
  const std::string& slide_url() const { return slide_url_; }
  const std::string& slide_url_if_tagged() const { return slide_url_if_tagged_; }
  const std::string& variations_url() const { return variations_url_; }
  bool brand_package_loaded() const { return brand_package_loaded_ != 0; }
  bool partner_package_loaded() const { return partner_package_loaded_ != 0; }
  Tristate alternate_installer_title() const { return alternate_installer_title_; }
  Tristate send_statistics() const { return send_statistics_; }
  Tristate make_browser_default() const { return make_browser_default_; }
  Tristate need_ppapi_flash() const { return need_ppapi_flash_; }

  // The entry flow replaces the documents' language with the "lang" distribution parameter
  // (before `ApplyDefaults`, which recomputes `language_id`).
  void set_language(std::string language) { language_ = std::move(language); }

  // Direct writes for tests of the code that reads the record.
  void set_setup_url(std::string value) { setup_url_ = std::move(value); }
  void set_brand_id(std::string value) { brand_id_ = std::move(value); }
  void set_brand_name(std::string value) { brand_name_ = std::move(value); }
  void set_license_url(std::string value) { license_url_ = std::move(value); }
  void set_conf_policy_url(std::string value) { conf_policy_url_ = std::move(value); }
  void set_partner_id(std::string value) { partner_id_ = std::move(value); }
  void set_slide_url(std::string value) { slide_url_ = std::move(value); }
  void set_slide_url_if_tagged(std::string value) { slide_url_if_tagged_ = std::move(value); }
  void set_variations_url(std::string value) { variations_url_ = std::move(value); }
  void set_alternate_installer_title(Tristate value) { alternate_installer_title_ = value; }
  void set_send_statistics(Tristate value) { send_statistics_ = value; }
  void set_make_browser_default(Tristate value) { make_browser_default_ = value; }
  void set_need_ppapi_flash(Tristate value) { need_ppapi_flash_ = value; }

 private:
  std::string setup_url_;
  std::string brand_id_;
  std::string brand_name_;
  std::string language_;
  uint32_t language_id_ = 1033;
  std::string license_url_;
  std::string conf_policy_url_;
  std::wstring work_dir_;
  std::wstring brand_package_path_;
  std::wstring partner_package_path_;
  std::string partner_id_;
  std::string slide_url_;
  std::string slide_url_if_tagged_;
  std::string variations_url_;
  uint8_t brand_package_loaded_ = 0;
  uint8_t partner_package_loaded_ = 0;
  Tristate alternate_installer_title_ = kUnset;
  Tristate send_statistics_ = kUnset;
  Tristate make_browser_default_ = kUnset;
  Tristate need_ppapi_flash_ = kUnset;

  BrandEnvironment* environment_;
};

}  // namespace installer

#endif  // BRAND_BRAND_INFO_H_

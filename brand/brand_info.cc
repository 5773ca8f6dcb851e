#include "brand/brand_info.h"

#include <jansson.h>

#include <memory>

#include "brand/brand_packages.h"
#include "brand/cabinet.h"
#include "brand/language.h"
#include "build_config/endpoints.h"
#include "platform/logging.h"
#include "platform/url_escape.h"

namespace installer {
namespace {

// Keys of the "install" section may also stand at the top level of older documents.
constexpr std::string_view kInstallPrefix = "install.";

struct JsonDeleter {
  void operator()(json_t* json) const { json_decref(json); }
};
using ScopedJson = std::unique_ptr<json_t, JsonDeleter>;

// Walks a dotted path of object members; null when a member is missing or a node on the way
// is not an object. The returned node is borrowed from `root`.
const json_t* FindPath(const json_t* root, std::string_view path) {
  const json_t* node = root;
  while (node != nullptr) {
    if (!json_is_object(node)) return nullptr;
    size_t dot = path.find('.');
    std::string name(path.substr(0, dot));
    node = json_object_get(node, name.c_str());
    if (dot == std::string_view::npos) return node;
    path.remove_prefix(dot + 1);
  }
  return nullptr;
}

// Applies one document's lookups under the first-writer-wins rule.
class ConfigReader {
 public:
  explicit ConfigReader(const json_t* root) : root_(root) {}

  void ReadString(std::string_view key, std::string* field) const {
    if (!field->empty()) return;
    if (LookupString(key, field)) return;
    if (key.substr(0, kInstallPrefix.size()) == kInstallPrefix) {
      LookupString(key.substr(kInstallPrefix.size()), field);
    }
  }

  void ReadTristate(std::string_view key, Tristate* field) const {
    if (*field != kUnset) return;
    LookupTristate(key, field);
    if (*field == kUnset && key.substr(0, kInstallPrefix.size()) == kInstallPrefix) {
      LookupTristate(key.substr(kInstallPrefix.size()), field);
    }
  }

 private:
  // True when the key holds a JSON string, which is then taken even when empty.
  bool LookupString(std::string_view key, std::string* field) const {
    const json_t* value = root_ ? FindPath(root_, key) : nullptr;
    if (!json_is_string(value)) return false;
    field->assign(json_string_value(value), json_string_length(value));
    return true;
  }

  void LookupTristate(std::string_view key, Tristate* field) const {
    const json_t* value = root_ ? FindPath(root_, key) : nullptr;
    if (json_is_true(value)) {
      *field = kTrue;
    } else if (json_is_false(value)) {
      *field = kFalse;
    }
  }

  const json_t* root_;
};

}  // namespace

BrandInfo::BrandInfo(std::wstring work_dir)
    : work_dir_(std::move(work_dir)), environment_(&DefaultBrandEnvironment()) {}

BrandInfo::~BrandInfo() = default;

void BrandInfo::Clear() {
  logging::LogText(logging::kINFO, "Clear", __LINE__, "Reset brand info.");
  brand_id_.clear();
  brand_name_.clear();
  setup_url_.clear();
  language_.clear();
  language_id_ = LanguageIdFromCode(language_);
  brand_package_path_.clear();
  partner_package_path_.clear();
  partner_id_.clear();
  license_url_.clear();
  conf_policy_url_.clear();
  slide_url_.clear();
  slide_url_if_tagged_.clear();
  alternate_installer_title_ = kUnset;
  send_statistics_ = kUnset;
  make_browser_default_ = kUnset;
  need_ppapi_flash_ = kUnset;
}

void BrandInfo::ReadConfig(std::string_view package, const std::string& member_name) {
  ExtractedMembers members;
  // The flag is not needed: a damaged cabinet may still have yielded the member whole.
  ExtractPackage(package, member_name, &members);
  auto member = members.find(member_name);
  if (member == members.end()) return;
  ApplyConfigDocument(member->second);
}

bool BrandInfo::ApplyConfigDocument(std::string_view json_text) {
  json_error_t error;
  ScopedJson root(json_loadb(json_text.data(), json_text.size(), 0, &error));
  ConfigReader reader(root.get());

  reader.ReadString("languages.interface", &language_);
  language_id_ = LanguageIdFromCode(language_);
  reader.ReadString("brand_id", &brand_id_);
  reader.ReadString("brand_name", &brand_name_);
  reader.ReadString("install.setup_url", &setup_url_);
  reader.ReadString("license_url", &license_url_);
  reader.ReadString("install.conf_policy_url", &conf_policy_url_);
  reader.ReadTristate("install.alternate_installer_title", &alternate_installer_title_);
  reader.ReadTristate("install.send_statistics", &send_statistics_);
  reader.ReadTristate("install.make_browser_default", &make_browser_default_);
  reader.ReadTristate("install.need_ppapi_flash", &need_ppapi_flash_);
  reader.ReadString("partner_id", &partner_id_);
  reader.ReadString("install.slide_url", &slide_url_);
  reader.ReadString("install.slide_url_if_tagged", &slide_url_if_tagged_);
  reader.ReadString("urls.variations", &variations_url_);

  LogBrandInfo();
  return root != nullptr;
}

void BrandInfo::ApplyDefaults() {
  if (brand_id_.empty()) brand_id_ = "zorvin";
  if (brand_name_.empty()) brand_name_ = brand_id_;
  if (setup_url_.empty()) {
    setup_url_ = platform::HttpsUrl(endpoints::kDownloadHost, "/browser/");
    setup_url_ += brand_id_;
    setup_url_ += IsPpapi() ? "/browser-setup.arc" : "/flash/browser-setup.arc";
  }
  if (license_url_.empty()) license_url_ = platform::HttpsUrl(endpoints::kLegalHost, "/browser_agreement/");
  if (conf_policy_url_.empty()) {
    conf_policy_url_ = platform::HttpsUrl(endpoints::kLegalHost, "/confidential/");
  }
  if (language_.empty()) language_ = environment_->UserUiLanguage();
  language_id_ = LanguageIdFromCode(language_);
  if (variations_url_.empty()) {
    variations_url_ =
        platform::HttpsUrl(endpoints::kBrowserApiHost, "/content/get/experiments/browser.proto");
  }
  LogBrandInfo();
}

void BrandInfo::LogBrandInfo() const {
  logging::LogWithValue(logging::kINFO, "LogBrandInfo", __LINE__, "Brand id: ", brand_id_);
  logging::LogWithValue(logging::kINFO, "LogBrandInfo", __LINE__, "Brand name: ", brand_name_);
  logging::LogWithValue(logging::kINFO, "LogBrandInfo", __LINE__, "Setup url: ", setup_url_);
  logging::LogWithValue(logging::kINFO, "LogBrandInfo", __LINE__, "Default language: ", language_);
  logging::LogWithValue(logging::kINFO, "LogBrandInfo", __LINE__,
                        "Install slide url by default: ", slide_url_);
  logging::LogWithValue(logging::kINFO, "LogBrandInfo", __LINE__,
                        "Install slide url if tagged installer: ", slide_url_if_tagged_);
  logging::LogWithValue(logging::kINFO, "LogBrandInfo", __LINE__,
                        "Show international title: ", UseAlternateInstallerTitle());
  logging::LogWithValue(logging::kINFO, "LogBrandInfo", __LINE__,
                        "Send browser's statistics: ", ShouldSendStatistics());
  logging::LogWithValue(logging::kINFO, "LogBrandInfo", __LINE__,
                        "Make browser default after import: ", ShouldMakeBrowserDefault());
  logging::LogWithValue(logging::kINFO, "LogBrandInfo", __LINE__, "Is ppapi: ", IsPpapi());
}

}  // namespace installer

#include "brand/brand_packages.h"

#include <windows.h>

#include "brand/brand_info.h"
#include "brand/language.h"
#include "brand/registry_values.h"
#include "platform/file_util.h"
#include "platform/logging.h"
#include "platform/strings.h"
#include "resources/resource_ids.h"

namespace installer {

bool FindBinResource(HMODULE module, const wchar_t* name, std::string_view* bytes) {
  HRSRC info = FindResourceW(module, name, L"BIN");
  if (info == nullptr) return false;
  HGLOBAL loaded = LoadResource(module, info);
  if (loaded == nullptr) return false;
  const void* data = LockResource(loaded);
  DWORD size = SizeofResource(module, info);
  if (data == nullptr && size != 0) return false;
  *bytes = std::string_view(static_cast<const char*>(data), size);
  return true;
}

namespace {

constexpr char kDefaultBrandName[] = "zorvin";
constexpr wchar_t kBrandResourcePrefix[] = L"BRAND_";

struct BrandRule {
  const char* region;    // empty: any region
  const char* language;  // empty: any language
  const char* brand;
};

// Tried in order: the first row whose non-empty cells both match wins.
constexpr BrandRule kBrandRules[] = {
    {"RU", "uk", "ua_uk"}, {"RU", "", "zorvin"}, {"UA", "ru", "ua_ru"}, {"UA", "", "ua_uk"},
    {"TR", "", "tb"},      {"", "ru", "zorvin"}, {"", "uk", "ua_uk"},   {"", "tr", "tb"},
};

bool CellMatches(std::string_view cell, std::string_view value) {
  return cell.empty() || cell == value;
}

bool LoadBinResource(HMODULE module, const wchar_t* name, std::string* bytes) {
  std::string_view found;
  if (!FindBinResource(module, name, &found)) return false;
  bytes->assign(found);
  return true;
}

class ModuleBrandEnvironment : public BrandEnvironment {
 public:
  explicit ModuleBrandEnvironment(HMODULE module) : module_(module) {}

  bool LoadPackage(int id, std::string* bytes) const override {
    return LoadBinResource(module_, MAKEINTRESOURCEW(id), bytes);
  }
  bool LoadPackage(const std::wstring& name, std::string* bytes) const override {
    return LoadBinResource(module_, name.c_str(), bytes);
  }
  std::string UserRegion() const override { return ReadUserRegion(); }
  std::string UserUiLanguage() const override { return DefaultUiLanguage(); }
  void RemoveSavedValue(std::string_view name) const override {
    RemoveValueFromRegistry(name);
  }

 private:
  HMODULE module_;
};

// The whole package goes to the setup program byte for byte. A package that could not be
// written whole is removed again and not handed on (the file an earlier run left there may be
// another brand's); its settings still apply to this run.
bool WritePackageFile(const std::wstring& path, const std::string& bytes) {
  if (platform::WriteWholeFile(platform::FilePath(path), bytes)) return true;
  logging::LogWithValue(logging::kERROR, "GetInfoFromResources", __LINE__, "Can't write ", path);
  return false;
}

}  // namespace

BrandEnvironment& DefaultBrandEnvironment() {
  static ModuleBrandEnvironment environment(GetModuleHandleW(nullptr));
  return environment;
}

std::unique_ptr<BrandEnvironment> CreateModuleBrandEnvironment(HINSTANCE__* module) {
  return std::make_unique<ModuleBrandEnvironment>(module);
}

std::string BrandNameForRegionAndLanguage(std::string_view region, std::string_view language) {
  for (const BrandRule& rule : kBrandRules) {
    if (CellMatches(rule.region, region) && CellMatches(rule.language, language)) {
      return rule.brand;
    }
  }
  return std::string();
}

std::string ReadUserRegion() {
  GEOID geo_id = GetUserGeoID(GEOCLASS_NATION);
  if (geo_id == GEOID_NOT_AVAILABLE) return std::string();
  wchar_t iso2[3] = {};
  if (GetGeoInfoW(geo_id, GEO_ISO2, iso2, 3, 0) != 3) return std::string();
  return platform::Narrow(std::wstring_view(iso2, 2));
}

std::string AutodetectBrandName(const BrandEnvironment& environment) {
  std::string region = environment.UserRegion();
  logging::LogWithValue(logging::kINFO, "AutodetectBrandName", __LINE__, "User region: ", region);
  std::string language = environment.UserUiLanguage();
  logging::LogWithValue(logging::kINFO, "AutodetectBrandName", __LINE__, "User locale: ", language);
  std::string brand = BrandNameForRegionAndLanguage(region, language);
  if (!brand.empty()) {
    logging::LogWithValue(logging::kINFO, "AutodetectBrandName", __LINE__,
                          "Detected brand-name: ", brand);
    return brand;
  }
  logging::LogWithValue(logging::kINFO, "AutodetectBrandName", __LINE__,
                        "Didn't found brand-name. Use default: ", kDefaultBrandName);
  return kDefaultBrandName;
}

void BrandInfo::GetInfo(const std::wstring& brand_name) {
  Clear();
  // An earlier, failed run may have left these for the setup program; this run decides anew.
  environment_->RemoveSavedValue("brand");
  environment_->RemoveSavedValue("BrandFile");
  environment_->RemoveSavedValue("PartnerFile");
  Clear();
  brand_package_path_ = work_dir_ + L"BrandFile";
  partner_package_path_ = work_dir_ + L"PartnerFile";
  logging::LogWithValue(logging::kINFO, "GetInfo", __LINE__,
                        "Brand package path: ", brand_package_path_);
  logging::LogWithValue(logging::kINFO, "GetInfo", __LINE__,
                        "Partner package path: ", partner_package_path_);
  GetInfoFromResources(brand_name);
}

void BrandInfo::GetInfoFromResources(const std::wstring& brand_name) {
  std::string partner_package;
  if (environment_->LoadPackage(IDR_PARTNER_PACKAGE, &partner_package) &&
      !partner_package.empty()) {
    LOG(INFO, "GetInfoFromResources") << "Extract Partner package: " << partner_package_path_
                                      << " [" << partner_package.size() << "B]";
    if (WritePackageFile(partner_package_path_, partner_package)) partner_package_loaded_ = 1;
    ReadConfig(partner_package, "partner_config");
  } else {
    logging::LogText(logging::kWARNING, "GetInfoFromResources", __LINE__,
                     "Partner package is empty.");
  }

  std::string brand_package;
  bool loaded = false;
  if (brand_name == L"auto") {
    std::string name = platform::ToLowerAscii(AutodetectBrandName(*environment_));
    LOG(INFO, "GetInfoFromResources") << "Fetching autodetected " << name << " package";
    loaded = environment_->LoadPackage(kBrandResourcePrefix + platform::Widen(name),
                                       &brand_package);
  } else if (!brand_name.empty()) {
    LOG(INFO, "GetInfoFromResources") << "Fetching defined" << brand_name << " package";
    loaded = environment_->LoadPackage(kBrandResourcePrefix + platform::ToLowerAscii(brand_name),
                                       &brand_package);
  }
  if (!loaded || brand_package.empty()) {
    logging::LogText(logging::kINFO, "GetInfoFromResources", __LINE__, "Fetching default package");
    brand_package.clear();
    if (!environment_->LoadPackage(IDR_DEFAULT_BRAND_PACKAGE, &brand_package) ||
        brand_package.empty()) {
      logging::LogText(logging::kWARNING, "GetInfoFromResources", __LINE__,
                       "Brand package is empty.");
      return;
    }
  }
  LOG(INFO, "GetInfoFromResources") << "Extract Brand package: " << brand_package_path_ << " ["
                                    << brand_package.size() << "B]";
  if (WritePackageFile(brand_package_path_, brand_package)) brand_package_loaded_ = 1;
  ReadConfig(brand_package, "brand_config");
}

}  // namespace installer

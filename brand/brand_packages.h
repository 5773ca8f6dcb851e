// Where the brand and partner packages come from.
//
// A package is a cabinet archive carried as a custom "BIN" resource of the installer's own
// module: id 320 is the partner package, "BRAND_<name>" a brand package for one brand, id 319
// the default brand package. The "brand-name" switch picks the brand; "auto" picks it from the
// user's region and interface language with a fixed table.
//
// Everything that touches the system (resources, the region, the interface language and the
// registry values an earlier run saved) sits behind `BrandEnvironment`, so the selection can
// be tested with packages handed in by the test.
#ifndef BRAND_BRAND_PACKAGES_H_
#define BRAND_BRAND_PACKAGES_H_

#include <memory>
#include <string>
#include <string_view>

struct HINSTANCE__;  // HMODULE, without <windows.h>

namespace installer {

// The bytes of the "BIN" resource `name` (a MAKEINTRESOURCE id or a name, matched without
// regard to case) of `module`, in the module's own memory. False, with *bytes untouched, when
// there is no such resource or it cannot be loaded.
bool FindBinResource(HINSTANCE__* module, const wchar_t* name, std::string_view* bytes);

class BrandEnvironment {
 public:
  virtual ~BrandEnvironment() = default;

  // Bytes of the "BIN" resource with that id or name (names match without regard to case).
  // False, with *bytes untouched, when there is no such resource.
  virtual bool LoadPackage(int id, std::string* bytes) const = 0;
  virtual bool LoadPackage(const std::wstring& name, std::string* bytes) const = 0;
  // The user's two-letter ISO region ("RU"), empty when Windows does not give one.
  virtual std::string UserRegion() const = 0;
  // The interface language code of the user (`DefaultUiLanguage`).
  virtual std::string UserUiLanguage() const = 0;
  // Removes a value saved by an earlier run under the browser's per-user key; failures are
  // ignored, as nothing depends on the value being gone.
  virtual void RemoveSavedValue(std::string_view name) const = 0;
};

// The real system: the own module's resources, GetUserGeoID/GetGeoInfoW,
// GetUserDefaultUILanguage and the browser's registry key. One per process.
BrandEnvironment& DefaultBrandEnvironment();

// The same for another module's resources (an executable loaded as a data file); the region,
// language and registry parts are the real system's. `module` must outlive the result.
std::unique_ptr<BrandEnvironment> CreateModuleBrandEnvironment(HINSTANCE__* module);

// The brand for a region and interface language code from the detection table; empty when no
// row matches. Exact, case-sensitive comparisons.
std::string BrandNameForRegionAndLanguage(std::string_view region, std::string_view language);

// Reads region and language from `environment`, logs them and the outcome, and returns the
// detected brand name, "zorvin" when the table has no row for them.
std::string AutodetectBrandName(const BrandEnvironment& environment);

// The region as Windows reports it: GetUserGeoID(GEOCLASS_NATION) and GetGeoInfoW(GEO_ISO2);
// empty unless Windows returns exactly two characters and the terminator.
std::string ReadUserRegion();

}  // namespace installer

#endif  // BRAND_BRAND_PACKAGES_H_

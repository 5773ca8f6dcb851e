// A hand-written `BrandEnvironment` for brand tests: packages, region and language are set by
// the test, and every resource request and value removal is recorded.
#ifndef TESTS_SUPPORT_FAKE_BRAND_ENVIRONMENT_H_
#define TESTS_SUPPORT_FAKE_BRAND_ENVIRONMENT_H_

#include <map>
#include <string>
#include <vector>

#include "brand/brand_packages.h"

namespace test_support {

class FakeBrandEnvironment : public installer::BrandEnvironment {
 public:
  // Package bytes by resource id and by name (names match without regard to case, as the
  // resource lookup of Windows does).
  std::map<int, std::string> packages_by_id;
  std::map<std::wstring, std::string> packages_by_name;
  std::string region;
  std::string ui_language = "en";

  // What the code under test asked for, in order.
  mutable std::vector<std::wstring> requested;  // "#<id>" or the name as asked
  mutable std::vector<std::string> removed_values;

  bool LoadPackage(int id, std::string* bytes) const override;
  bool LoadPackage(const std::wstring& name, std::string* bytes) const override;
  std::string UserRegion() const override { return region; }
  std::string UserUiLanguage() const override { return ui_language; }
  void RemoveSavedValue(std::string_view name) const override {
    removed_values.emplace_back(name);
  }
};

}  // namespace test_support

#endif  // TESTS_SUPPORT_FAKE_BRAND_ENVIRONMENT_H_

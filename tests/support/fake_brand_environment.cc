#include "tests/support/fake_brand_environment.h"

#include "platform/strings.h"

namespace test_support {

bool FakeBrandEnvironment::LoadPackage(int id, std::string* bytes) const {
  requested.push_back(L"#" + platform::ToWString(id));
  auto found = packages_by_id.find(id);
  if (found == packages_by_id.end()) return false;
  *bytes = found->second;
  return true;
}

bool FakeBrandEnvironment::LoadPackage(const std::wstring& name, std::string* bytes) const {
  requested.push_back(name);
  for (const auto& [key, value] : packages_by_name) {
    if (platform::ToLowerAscii(key) == platform::ToLowerAscii(name)) {
      *bytes = value;
      return true;
    }
  }
  return false;
}

}  // namespace test_support

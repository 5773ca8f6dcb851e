#include "brand/distrib_info_params.h"

#include "startup/logging.h"

namespace installer {

DistribInfoParams::DistribInfoParams() = default;
DistribInfoParams::~DistribInfoParams() = default;

bool DistribInfoParams::Get(const std::string& key, std::string* value) const {
  auto it = params_.find(key);
  if (it == params_.end()) return false;
  *value = it->second;
  return true;
}

bool DistribInfoParams::GetBool(const std::string& key, bool* flag) const {
  *flag = false;
  std::string value;
  if (!Get(key, &value)) return false;
  if (value == "1") {
    *flag = true;
    return true;
  }
  return value == "2";
}

void DistribInfoParams::Save(const std::string& raw_text) {
  LOG(ERROR, "Save") << "Saving distribution parameters is not built yet.";
}

std::wstring DistribInfoParams::GetOwnPath() const {
  LOG(ERROR, "GetOwnPath") << "GetOwnPath is not built yet.";
  return std::wstring();
}

bool DistribInfoParams::CreateJsonFromDistribParams() {
  LOG(ERROR, "CreateJsonFromDistribParams") << "Distribution parameters are not built yet.";
  return false;
}

}  // namespace installer

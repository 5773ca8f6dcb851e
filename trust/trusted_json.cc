#include "trust/trusted_json.h"

#include <jansson.h>

#include <memory>

#include "platform/base64.h"

namespace installer {
namespace {

struct JsonDeleter {
  void operator()(json_t* json) const { json_decref(json); }
};
using ScopedJson = std::unique_ptr<json_t, JsonDeleter>;

}  // namespace

bool ParseTrustedJson(std::string_view json, TrustedCertificateIds* ids) {
  ids->clear();
  json_error_t error;
  ScopedJson root(json_loadb(json.data(), json.size(), 0, &error));
  if (!root || !json_is_object(root.get())) return false;
  json_t* info = json_object_get(root.get(), "trusted_info");
  if (!json_is_object(info)) return false;
  json_t* certificates = json_object_get(info, "certificates");
  if (!json_is_array(certificates)) return false;

  size_t index;
  json_t* element;
  json_array_foreach(certificates, index, element) {
    if (!json_is_object(element)) continue;
    json_t* id = json_object_get(element, "id");
    if (!json_is_string(id)) continue;
    std::string bytes;
    if (!platform::Base64Decode(std::string_view(json_string_value(id), json_string_length(id)),
                                &bytes) ||
        bytes.empty()) {
      continue;
    }
    ids->insert(std::move(bytes));
  }
  return true;
}

}  // namespace installer

// The archive's list of trusted signing certificates ("TRUSTED.JSON").
//
// The list names certificates by identifier: the serial number of the issuing certificate
// followed directly by the serial number of the signing certificate, each most significant
// byte first, as Base64 text:
//   {"trusted_info": {"certificates": [{"id": "<Base64>"}, ...]}}
// Parsing is forgiving inside the array (elements that are not objects, lack a string "id"
// or carry invalid Base64 are skipped) and strict about the frame around it.
#ifndef TRUST_TRUSTED_JSON_H_
#define TRUST_TRUSTED_JSON_H_

#include <string>
#include <string_view>

#include "platform/string_map.h"

namespace installer {

// Certificate identifiers (raw bytes); equal byte strings collapse.
using TrustedCertificateIds = platform::StringSet;

// Clears `*ids`, then fills it from `json`. False when the text is not JSON or the root,
// "trusted_info" or "certificates" has the wrong type (the set is left empty then); true
// otherwise, also when no usable element was found. An empty "id" names no certificate and
// is skipped like an invalid one. Silent: the caller's verification fails on an empty set.
bool ParseTrustedJson(std::string_view json, TrustedCertificateIds* ids);

}  // namespace installer

#endif  // TRUST_TRUSTED_JSON_H_

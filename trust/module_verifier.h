// The archive's own list of the certificates allowed to sign it, proven to be the publisher's.
//
// The archive is a Windows image carrying two resources: "TRUSTED.JSON" (type
// "TRUSTED_JSON"), the list of certificates allowed to sign it, and "SIGNATURE.DAT" (type
// "SIGNATURE_DAT"): a 16-bit little-endian key index followed by an RSA PKCS #1 v1.5 SHA-1
// signature of the list, most significant byte first. The index selects one of the ten
// public keys built into the installer (build_config::kTrustedPublicKeys). The install flow
// (`Installer::VerifyModuleSignature`) passes an archive only when the list's signature
// checks out, the archive's Authenticode signatures are accepted by Windows with revocation
// checking along the whole chain, and a valid signature was made by a listed certificate
// (see authenticode.h).
//
// The archive is only ever loaded as image resource data: none of its code runs here.
#ifndef TRUST_MODULE_VERIFIER_H_
#define TRUST_MODULE_VERIFIER_H_

#include <cstddef>
#include <string>
#include <string_view>


namespace installer {

// True for "X:" followed by a separator, or for a leading pair of separators (UNC); both "\"
// and "/" count. Relative paths would let the loader search for the file.
bool IsAbsoluteModulePath(std::wstring_view path);

// The trusted list of the archive at `path`, after its RSA signature was checked against the
// built-in key named by "SIGNATURE.DAT"; empty on any failure. Every failure is one error line
// under "GetTrustJsonFromModule" (invalid path, load failure, "Cannot find resource
// SIGNATURE_DAT" when that resource has two bytes or fewer, "Cannot find resource TRUSTED_JSON",
// "Cannot find key", "Verify error"). The module is unloaded before returning.
std::string GetTrustJsonFromModule(const std::wstring& path);
// The same over another key table (`keys[i]` Base64 SubjectPublicKeyInfo, empty = no key).
std::string GetTrustJsonFromModuleForTesting(const std::wstring& path, const char* const* keys,
                                             size_t key_count);

}  // namespace installer

#endif  // TRUST_MODULE_VERIFIER_H_

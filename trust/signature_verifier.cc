#include "trust/signature_verifier.h"

#include <string>

#include "platform/logging.h"
#include "platform/system_library.h"

namespace installer {

bool SignatureVerifier::Initialize() {
  Cleanup();
  // The provider's DLLs may load crypt32 by bare name (Wine's do); loaded here first, it comes
  // from the system folder with what it needs. The key import below needs it anyway.
  platform::LoadSystemLibrary(L"crypt32.dll");
  if (!CryptAcquireContextW(&provider_, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
    provider_ = 0;
    logging::LogWithValue(logging::kERROR, "Initialize", __LINE__,
                          "Failed to initialize crypt context, error: ", GetLastError());
    return false;
  }
  return true;
}

bool SignatureVerifier::HashData(std::string_view data) {
  if (!CryptCreateHash(provider_, CALG_SHA1, 0, 0, &hash_)) {
    hash_ = 0;
    logging::LogWithValue(logging::kERROR, "HashData", __LINE__,
                          "Failed to initialize hash object, error: ", GetLastError());
    return false;
  }
  if (!CryptHashData(hash_, reinterpret_cast<const BYTE*>(data.data()),
                     static_cast<DWORD>(data.size()), 0)) {
    logging::LogWithValue(logging::kERROR, "HashData", __LINE__,
                          "Failed to hash data, error: ", GetLastError());
    return false;
  }
  return true;
}

bool SignatureVerifier::ImportPublicKey(std::string_view der) {
  CERT_PUBLIC_KEY_INFO* info = nullptr;
  DWORD info_size = 0;
  if (!CryptDecodeObjectEx(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, X509_PUBLIC_KEY_INFO,
                           reinterpret_cast<const BYTE*>(der.data()),
                           static_cast<DWORD>(der.size()), CRYPT_DECODE_ALLOC_FLAG, nullptr,
                           &info, &info_size)) {
    logging::LogWithValue(logging::kERROR, "ImportPublicKey", __LINE__,
                          "Failed to convert decode public key, error: ", GetLastError());
    return false;
  }
  const BOOL imported = CryptImportPublicKeyInfo(provider_, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                 info, &key_);
  const DWORD error = GetLastError();
  LocalFree(info);
  if (!imported) {
    key_ = 0;
    SetLastError(error);
    logging::LogWithValue(logging::kERROR, "ImportPublicKey", __LINE__,
                          "Failed to import crypt key, error: ", error);
    return false;
  }
  return true;
}

bool SignatureVerifier::VerifySignature(std::string_view signature) {
  if (signature.empty()) return false;
  // PKCS #1 writes the signature as a big-endian number; CryptoAPI takes it little-endian.
  std::string reversed(signature.rbegin(), signature.rend());
  if (!CryptVerifySignatureW(hash_, reinterpret_cast<const BYTE*>(reversed.data()),
                             static_cast<DWORD>(reversed.size()), key_, nullptr, 0)) {
    logging::LogWithValue(logging::kERROR, "VerifySignature", __LINE__,
                          "Failed to verify signature, error: ", GetLastError());
    return false;
  }
  return true;
}

void SignatureVerifier::Cleanup() {
  if (key_) {
    if (!CryptDestroyKey(key_))
      logging::LogWithValue(logging::kERROR, "Cleanup", __LINE__,
                            "Failed to destroy crypt key, error: ", GetLastError());
    key_ = 0;
  }
  if (hash_) {
    if (!CryptDestroyHash(hash_))
      logging::LogWithValue(logging::kERROR, "Cleanup", __LINE__,
                            "Failed to destroy, error: ", GetLastError());
    hash_ = 0;
  }
  if (provider_) {
    if (!CryptReleaseContext(provider_, 0))
      logging::LogWithValue(logging::kERROR, "Cleanup", __LINE__,
                            "Failed to release crypt context, error: ", GetLastError());
    provider_ = 0;
  }
}

bool SignatureVerifier::Verify(std::string_view signature, std::string_view public_key,
                               std::string_view data) {
  const bool ok = Initialize() && HashData(data) && ImportPublicKey(public_key) &&
                  VerifySignature(signature);
  // Cleanup must not change the error a failed step left for the caller's own log line.
  const DWORD error = GetLastError();
  Cleanup();
  SetLastError(error);
  return ok;
}

}  // namespace installer

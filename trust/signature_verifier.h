// RSA signature check of the archive's trusted list over CryptoAPI.
//
// `SignatureVerifier` proves that a block of data was signed (PKCS #1 v1.5, SHA-1) by the
// private half of a public key given as a DER X.509 SubjectPublicKeyInfo. It holds three
// CryptoAPI handles - the provider context, the hash object and the imported key - which
// `Cleanup` releases (the destructor too). The steps can be run one by one; `Verify` runs
// them all in order, stops at the first failure and always cleans up.
//
// Every failing step writes one error line under its own name ("Initialize", "HashData",
// "ImportPublicKey", "VerifySignature", "Cleanup") with the decimal GetLastError code.
#ifndef TRUST_SIGNATURE_VERIFIER_H_
#define TRUST_SIGNATURE_VERIFIER_H_

#include <windows.h>
#include <wincrypt.h>

#include <string_view>

namespace installer {

class SignatureVerifier {
 public:
  SignatureVerifier() = default;
  SignatureVerifier(const SignatureVerifier&) = delete;
  SignatureVerifier& operator=(const SignatureVerifier&) = delete;
  ~SignatureVerifier() { Cleanup(); }

  // Releases any previous handles, then acquires a verify-only PROV_RSA_FULL context.
  bool Initialize();
  // Creates a SHA-1 hash object on the context and hashes `data` into it.
  bool HashData(std::string_view data);
  // Decodes `der` (SubjectPublicKeyInfo) and imports it into the context.
  bool ImportPublicKey(std::string_view der);
  // Checks `signature` (most significant byte first, as PKCS #1 writes it) against the hash
  // with the imported key. An empty signature fails without a call.
  bool VerifySignature(std::string_view signature);
  // Destroys the key and the hash and releases the context, each only if present.
  void Cleanup();

  // Initialize, HashData(data), ImportPublicKey(public_key), VerifySignature(signature),
  // stopping at the first failure; Cleanup afterwards in every case.
  bool Verify(std::string_view signature, std::string_view public_key, std::string_view data);

 private:
  HCRYPTPROV provider_ = 0;
  HCRYPTHASH hash_ = 0;
  HCRYPTKEY key_ = 0;
};

}  // namespace installer

#endif  // TRUST_SIGNATURE_VERIFIER_H_

// Authenticode check of the setup archive: which of its signatures count, and whether one
// of them was made by a trusted certificate.
//
// An archive may carry several signatures (a primary one and nested ones). Windows' trust
// provider verifies them one at a time (`WinTrustVerifier`); each verified signature becomes
// a `SignatureRecord`, and `SignatureSelection` decides over the records in order:
//   - invalid signatures are skipped;
//   - once a valid signature made with a SHA-256 certificate has been seen, only SHA-256
//     signatures count, and the archive passes at the first listed one (the walk stops);
//   - while only older signatures (for example SHA-1) have been seen, a listed one passes.
// The decision is plain code over records; the WinTrust glue only produces the records.
#ifndef TRUST_AUTHENTICODE_H_
#define TRUST_AUTHENTICODE_H_

#include <windows.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "trust/trusted_json.h"

namespace installer {

// One signature as the walk sees it.
struct SignatureRecord {
  // The trust provider accepted the signature and its signer's chain gave an identifier.
  bool valid = false;
  // Issuer serial followed by signer serial, each most significant byte first.
  std::string identifier;
  // The signing certificate is signed with sha256WithRSAEncryption.
  bool is_sha256 = false;
};

// What the chain check needs of one certificate of a signer's chain.
struct ChainCertificate {
  // Validity period, in FILETIME units.
  uint64_t not_before = 0;
  uint64_t not_after = 0;
  // The extended key usage extension is present, and it lists code signing.
  bool has_usage_list = false;
  bool lists_code_signing = false;
  // Basic constraints allow it to issue certificates (a version 1 root counts).
  bool is_ca = false;
};

// Why a signer's chain (signing certificate first, root last) cannot be trusted at `when`
// (FILETIME units); null when it can. Every certificate must be valid at that time and, where
// it limits its usage, allow code signing; every certificate but the first must be a CA.
const char* ChainProblem(const std::vector<ChainCertificate>& chain, uint64_t when);

// The signature-selection walk, one record at a time.
class SignatureSelection {
 public:
  explicit SignatureSelection(const TrustedCertificateIds& ids) : ids_(ids) {}
  // Takes the next signature; true when the archive is accepted and the walk stops here.
  bool Consider(const SignatureRecord& record);
  // The outcome so far (and the final one once every record has been considered).
  bool result() const { return result_; }

 private:
  const TrustedCertificateIds& ids_;
  bool result_ = false;
  bool sha256_seen_ = false;
};

// The walk over a whole list. `*considered` (may be null) receives how many records were
// taken before the walk stopped.
bool SelectTrustedSignature(const TrustedCertificateIds& ids,
                            const std::vector<SignatureRecord>& records, size_t* considered);

// Object identifier of sha256WithRSAEncryption.
inline constexpr char kSha256RsaOid[] = "1.2.840.113549.1.1.11";
// Nested signatures beyond the first that are checked; an archive claiming more fails.
inline constexpr uint64_t kMaxNestedSignatures = 32;

// Windows 8 added signature settings to WINTRUST_DATA (a pointer after dwUIContext, used to
// verify one signature of several and to count the nested ones); MinGW's wintrust.h still
// ends the structure at dwUIContext, so the extension is declared here with Windows' layout.
struct WinTrustSignatureSettings {
  DWORD cbStruct;
  DWORD dwIndex;
  DWORD dwFlags;
  DWORD cSecondarySigs;
  DWORD dwVerifiedSigIndex;
  void* pCryptoPolicy;
};
struct WinTrustDataWithSettings {
  WINTRUST_DATA data;
  WinTrustSignatureSettings* pSignatureSettings;
};
inline constexpr DWORD kWssVerifySpecific = 0x00000001;       // WSS_VERIFY_SPECIFIC
inline constexpr DWORD kWssGetSecondarySigCount = 0x00000002;  // WSS_GET_SECONDARY_SIG_COUNT

// The WinTrust calls the verifier makes; the system's version runs WinVerifyTrust inside a
// structured-exception guard (a failing call there yields TRUST_E_SYSTEM_ERROR).
class WinTrustApi {
 public:
  virtual ~WinTrustApi() = default;
  // `data` is really a WinTrustDataWithSettings (data->cbStruct tells).
  virtual LONG VerifyTrust(HWND window, GUID* action, WINTRUST_DATA* data) = 0;
  virtual CRYPT_PROVIDER_DATA* ProvDataFromStateData(HANDLE state) = 0;
  virtual CRYPT_PROVIDER_SGNR* GetProvSignerFromChain(CRYPT_PROVIDER_DATA* data, DWORD signer,
                                                      BOOL counter_signer,
                                                      DWORD counter_signer_index) = 0;
  virtual CRYPT_PROVIDER_CERT* GetProvCertFromChain(CRYPT_PROVIDER_SGNR* signer, DWORD cert) = 0;
};
WinTrustApi* SystemWinTrustApi();

// WINTRUST_DATA for one file: no user interface, file choice with the path and no handle,
// install context, signature settings that verify one given index and ask for the count of
// nested signatures. Revocation is checked along the whole chain unless `revocation_off`
// (then WTD_REVOKE_NONE and cache-only URL retrieval). A verification leaves state open; it
// is closed (WTD_STATEACTION_CLOSE) before the next verification, by `Close` and at
// destruction.
class WinTrustVerifier {
 public:
  // `api` null: the system's. Not owned.
  explicit WinTrustVerifier(WinTrustApi* api = nullptr);
  WinTrustVerifier(const WinTrustVerifier&) = delete;
  WinTrustVerifier& operator=(const WinTrustVerifier&) = delete;
  ~WinTrustVerifier();

  // Points the verifier at `path` (closing open state first); the index starts at 0.
  void Prepare(const std::wstring& path, bool revocation_off);
  // Verifies signature `index` with WINTRUST_ACTION_GENERIC_VERIFY_V2; WinVerifyTrust's result.
  LONG Verify(DWORD index);
  // Reads the signer of the last verification: exactly one signer whose chain holds the
  // signing certificate and its issuer, whose chain context shows no untrusted root, bad
  // signature, revocation, cycle or partial chain, and whose certificates pass
  // `ChainProblem` at the time the provider verified the signature as of. False (record
  // untouched) otherwise, also without a chain context: the provider's own answer is not
  // enough (Wine's skips its chain policy).
  bool ReadSigner(SignatureRecord* record);
  // Nested signatures reported by the last verification.
  DWORD secondary_signature_count() const { return settings_.cSecondarySigs; }
  void Close();

 private:
  WinTrustApi* api_;
  std::wstring path_;
  WINTRUST_FILE_INFO file_info_{};
  WinTrustSignatureSettings settings_{};
  WinTrustDataWithSettings data_{};
  DWORD last_state_action_ = WTD_STATEACTION_IGNORE;
};

// The whole Authenticode link: false at once for an empty set (no trust call); otherwise
// every signature index up to the reported nested count is verified and considered by
// `SignatureSelection` until it stops. Silent: the caller logs the outcome.
bool CheckAuthenticode(const TrustedCertificateIds& ids, const std::wstring& path,
                       bool revocation_off, WinTrustApi* api = nullptr);

}  // namespace installer

#endif  // TRUST_AUTHENTICODE_H_

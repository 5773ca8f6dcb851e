#include "trust/authenticode.h"

#include <softpub.h>

#include <cstring>
#include <string_view>

#include "platform/logging.h"
#include "platform/seh_guard.h"

namespace installer {
namespace {

static_assert(offsetof(WinTrustDataWithSettings, pSignatureSettings) == sizeof(WINTRUST_DATA),
              "signature settings must follow dwUIContext directly");

class SystemApi : public WinTrustApi {
 public:
  LONG VerifyTrust(HWND window, GUID* action, WINTRUST_DATA* data) override {
    LONG result = TRUST_E_SYSTEM_ERROR;
    auto call = [&] { result = WinVerifyTrust(window, action, data); };
    if (!CallGuarded(call, nullptr)) return TRUST_E_SYSTEM_ERROR;
    return result;
  }
  CRYPT_PROVIDER_DATA* ProvDataFromStateData(HANDLE state) override {
    CRYPT_PROVIDER_DATA* result = nullptr;
    auto call = [&] { result = WTHelperProvDataFromStateData(state); };
    return CallGuarded(call, nullptr) ? result : nullptr;
  }
  CRYPT_PROVIDER_SGNR* GetProvSignerFromChain(CRYPT_PROVIDER_DATA* data, DWORD signer,
                                              BOOL counter_signer,
                                              DWORD counter_signer_index) override {
    CRYPT_PROVIDER_SGNR* result = nullptr;
    auto call = [&] {
      result = WTHelperGetProvSignerFromChain(data, signer, counter_signer, counter_signer_index);
    };
    return CallGuarded(call, nullptr) ? result : nullptr;
  }
  CRYPT_PROVIDER_CERT* GetProvCertFromChain(CRYPT_PROVIDER_SGNR* signer, DWORD cert) override {
    CRYPT_PROVIDER_CERT* result = nullptr;
    auto call = [&] { result = WTHelperGetProvCertFromChain(signer, cert); };
    return CallGuarded(call, nullptr) ? result : nullptr;
  }
};

// CERT_INFO keeps serial numbers least significant byte first.
bool AppendSerial(const CRYPT_PROVIDER_CERT* cert, std::string* out) {
  if (!cert || !cert->pCert || !cert->pCert->pCertInfo) return false;
  const CRYPT_INTEGER_BLOB& serial = cert->pCert->pCertInfo->SerialNumber;
  if (serial.cbData == 0 || !serial.pbData) return false;
  for (DWORD i = serial.cbData; i > 0; --i) out->push_back(static_cast<char>(serial.pbData[i - 1]));
  return true;
}

HWND NoWindow() { return static_cast<HWND>(INVALID_HANDLE_VALUE); }

// Chain faults that make a signer untrustworthy whatever the trust provider answered. Windows'
// provider already refuses all of them, so this changes nothing there; Wine's (8.0) skips its
// chain policy when the signer certificate has no signature-hash property and then accepts
// chains that end in an unknown root. Time validity, usage and basic constraints are judged
// by `ChainProblem` over the certificates themselves, at the signature's verification time.
constexpr DWORD kUntrustedChainErrors = CERT_TRUST_IS_REVOKED | CERT_TRUST_IS_NOT_SIGNATURE_VALID |
                                        CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_CYCLIC |
                                        CERT_TRUST_IS_PARTIAL_CHAIN |
                                        CERT_TRUST_IS_EXPLICIT_DISTRUST;

constexpr char kCodeSigningOid[] = "1.3.6.1.5.5.7.3.3";

uint64_t Ticks(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

const CERT_EXTENSION* FindExtension(const CERT_INFO& info, const char* oid) {
  for (DWORD i = 0; i < info.cExtension; ++i) {
    const char* id = info.rgExtension[i].pszObjId;
    if (id && std::strcmp(id, oid) == 0) return &info.rgExtension[i];
  }
  return nullptr;
}

// Decodes an extension into a LocalAlloc'd structure; null when it does not decode.
template <typename T>
T* Decode(const CERT_EXTENSION& extension, const char* type) {
  void* decoded = nullptr;
  DWORD size = 0;
  if (!CryptDecodeObjectEx(X509_ASN_ENCODING, type, extension.Value.pbData,
                           extension.Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &decoded,
                           &size) ||
      size < sizeof(T)) {
    if (decoded) LocalFree(decoded);
    return nullptr;
  }
  return static_cast<T*>(decoded);
}

// False when an extension the check reads is present but cannot be decoded.
bool DescribeCertificate(const CERT_INFO& info, ChainCertificate* out) {
  out->not_before = Ticks(info.NotBefore);
  out->not_after = Ticks(info.NotAfter);
  if (const CERT_EXTENSION* usage = FindExtension(info, szOID_ENHANCED_KEY_USAGE)) {
    auto* list = Decode<CERT_ENHKEY_USAGE>(*usage, X509_ENHANCED_KEY_USAGE);
    if (!list) return false;
    out->has_usage_list = true;
    for (DWORD i = 0; i < list->cUsageIdentifier; ++i) {
      const char* id = list->rgpszUsageIdentifier[i];
      if (id && std::strcmp(id, kCodeSigningOid) == 0) out->lists_code_signing = true;
    }
    LocalFree(list);
  }
  if (const CERT_EXTENSION* constraints = FindExtension(info, szOID_BASIC_CONSTRAINTS2)) {
    auto* basic = Decode<CERT_BASIC_CONSTRAINTS2_INFO>(*constraints, X509_BASIC_CONSTRAINTS2);
    if (!basic) return false;
    out->is_ca = basic->fCA != FALSE;
    LocalFree(basic);
  } else {
    // Version 1 certificates have no extensions; such a root is a CA by tradition.
    out->is_ca = info.dwVersion == CERT_V1;
  }
  return true;
}

SystemApi g_system_api;

}  // namespace

const char* ChainProblem(const std::vector<ChainCertificate>& chain, uint64_t when) {
  if (chain.size() < 2) return "no issuer";
  for (size_t i = 0; i < chain.size(); ++i) {
    const ChainCertificate& certificate = chain[i];
    if (when < certificate.not_before || when > certificate.not_after) {
      return i == 0 ? "the signing certificate is outside its validity period"
                    : "an issuing certificate is outside its validity period";
    }
    if (certificate.has_usage_list && !certificate.lists_code_signing) {
      return i == 0 ? "the signing certificate is not valid for code signing"
                    : "an issuing certificate excludes code signing";
    }
    if (i > 0 && !certificate.is_ca) return "a certificate that is no CA issued another";
  }
  return nullptr;
}

bool SignatureSelection::Consider(const SignatureRecord& record) {
  if (!record.valid) return false;
  if (sha256_seen_ && !record.is_sha256) return false;
  const bool found = ids_.count(record.identifier) != 0;
  result_ = result_ || found;
  if (record.is_sha256) {
    sha256_seen_ = true;
    if (found) return true;
    // An older listed signature no longer counts once a SHA-256 one has been seen.
    result_ = false;
  }
  return false;
}

bool SelectTrustedSignature(const TrustedCertificateIds& ids,
                            const std::vector<SignatureRecord>& records, size_t* considered) {
  SignatureSelection selection(ids);
  size_t taken = 0;
  bool accepted = false;
  for (const SignatureRecord& record : records) {
    ++taken;
    if (selection.Consider(record)) {
      accepted = true;
      break;
    }
  }
  if (considered) *considered = taken;
  return accepted || selection.result();
}

WinTrustApi* SystemWinTrustApi() { return &g_system_api; }

WinTrustVerifier::WinTrustVerifier(WinTrustApi* api) : api_(api ? api : SystemWinTrustApi()) {}

WinTrustVerifier::~WinTrustVerifier() { Close(); }

void WinTrustVerifier::Prepare(const std::wstring& path, bool revocation_off) {
  Close();
  path_ = path;
  file_info_ = {};
  file_info_.cbStruct = sizeof(file_info_);
  file_info_.pcwszFilePath = path_.c_str();
  file_info_.hFile = nullptr;
  file_info_.pgKnownSubject = nullptr;

  settings_ = {};
  settings_.cbStruct = sizeof(settings_);
  settings_.dwIndex = 0;
  settings_.dwFlags = kWssVerifySpecific | kWssGetSecondarySigCount;

  data_ = {};
  WINTRUST_DATA& data = data_.data;
  data.cbStruct = sizeof(data_);
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = revocation_off ? WTD_REVOKE_NONE : WTD_REVOKE_WHOLECHAIN;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file_info_;
  data.dwStateAction = WTD_STATEACTION_IGNORE;
  data.dwProvFlags = revocation_off ? WTD_CACHE_ONLY_URL_RETRIEVAL : WTD_REVOCATION_CHECK_CHAIN;
  data.dwUIContext = WTD_UICONTEXT_INSTALL;
  data_.pSignatureSettings = &settings_;
  last_state_action_ = WTD_STATEACTION_IGNORE;
}

LONG WinTrustVerifier::Verify(DWORD index) {
  Close();
  settings_.dwIndex = index;
  data_.data.dwStateAction = WTD_STATEACTION_VERIFY;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG result = api_->VerifyTrust(NoWindow(), &action, &data_.data);
  last_state_action_ = WTD_STATEACTION_VERIFY;
  return result;
}

bool WinTrustVerifier::ReadSigner(SignatureRecord* record) {
  if (last_state_action_ != WTD_STATEACTION_VERIFY) return false;
  CRYPT_PROVIDER_DATA* provider = api_->ProvDataFromStateData(data_.data.hWVTStateData);
  if (!provider || provider->csSigners != 1) return false;
  CRYPT_PROVIDER_SGNR* signer = api_->GetProvSignerFromChain(provider, 0, FALSE, 0);
  if (!signer || signer->csCertChain < 2 || !signer->pChainContext) return false;
  if (signer->pChainContext->TrustStatus.dwErrorStatus & kUntrustedChainErrors) return false;
  std::vector<ChainCertificate> chain(signer->csCertChain);
  for (DWORD i = 0; i < signer->csCertChain; ++i) {
    const CRYPT_PROVIDER_CERT* certificate = api_->GetProvCertFromChain(signer, i);
    if (!certificate || !certificate->pCert || !certificate->pCert->pCertInfo ||
        !DescribeCertificate(*certificate->pCert->pCertInfo, &chain[i])) {
      return false;
    }
  }
  // The provider verifies as of the timestamp when the signature has one, else as of now.
  uint64_t when = Ticks(signer->sftVerifyAsOf);
  if (when == 0) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    when = Ticks(now);
  }
  if (ChainProblem(chain, when) != nullptr) return false;
  const CRYPT_PROVIDER_CERT* signing = api_->GetProvCertFromChain(signer, 0);
  const CRYPT_PROVIDER_CERT* issuer = api_->GetProvCertFromChain(signer, 1);
  std::string identifier;
  if (!AppendSerial(issuer, &identifier) || !AppendSerial(signing, &identifier)) return false;
  const char* algorithm = signing->pCert->pCertInfo->SignatureAlgorithm.pszObjId;
  record->valid = true;
  record->identifier = std::move(identifier);
  record->is_sha256 = algorithm && std::string_view(algorithm) == kSha256RsaOid;
  return true;
}

void WinTrustVerifier::Close() {
  if (last_state_action_ != WTD_STATEACTION_VERIFY) return;
  data_.data.dwStateAction = WTD_STATEACTION_CLOSE;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  api_->VerifyTrust(NoWindow(), &action, &data_.data);
  data_.data.hWVTStateData = nullptr;
  last_state_action_ = WTD_STATEACTION_CLOSE;
}

bool CheckAuthenticode(const TrustedCertificateIds& ids, const std::wstring& path,
                       bool revocation_off, WinTrustApi* api) {
  if (ids.empty()) return false;
  WinTrustVerifier verifier(api);
  verifier.Prepare(path, revocation_off);
  SignatureSelection selection(ids);
  // A 64-bit index: a reported count of 0xFFFFFFFF must not wrap the loop around.
  for (uint64_t index = 0; index <= verifier.secondary_signature_count(); ++index) {
    SignatureRecord record;
    if (verifier.Verify(static_cast<DWORD>(index)) == 0) verifier.ReadSigner(&record);
    // The count is the file's claim, and each step is a trust check with revocation and no
    // time limit of its own: a file that claims more than any real archive has is refused.
    if (verifier.secondary_signature_count() > kMaxNestedSignatures) {
      LOG(ERROR, "CheckAuthenticode") << "The archive claims "
                                      << verifier.secondary_signature_count()
                                      << " nested signatures; at most " << kMaxNestedSignatures
                                      << " are checked, so it is refused.";
      verifier.Close();
      return false;
    }
    if (selection.Consider(record)) {
      verifier.Close();
      return true;
    }
  }
  verifier.Close();
  return selection.result();
}

}  // namespace installer

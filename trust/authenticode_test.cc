#include "trust/authenticode.h"

#include <softpub.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace installer {
namespace {

// ---------------------------------------------------------------------------------------------
// The signature-selection walk over records.

const std::string kListedA = std::string("\x4A\x01\x00\x02", 4);
const std::string kListedB = std::string("\x4A\x01\x00\x03", 4);
const std::string kUnlisted = std::string("\x4A\x01\x00\x04", 4);

const TrustedCertificateIds& Listed() {
  static const TrustedCertificateIds ids = {kListedA, kListedB};
  return ids;
}

SignatureRecord Sha256(const std::string& id) { return {true, id, true}; }
SignatureRecord Sha1(const std::string& id) { return {true, id, false}; }
SignatureRecord Invalid(const std::string& id = kListedA, bool sha256 = true) {
  return {false, id, sha256};
}

struct WalkCase {
  const char* name;
  std::vector<SignatureRecord> records;
  bool accepted;
  size_t considered;
};

TEST(SignatureSelectionTest, NamedCases) {
  const WalkCase kCases[] = {
      {"no signature", {}, false, 0},
      {"one listed SHA-256", {Sha256(kListedA)}, true, 1},
      {"one unlisted SHA-256", {Sha256(kUnlisted)}, false, 1},
      {"one listed SHA-1", {Sha1(kListedA)}, true, 1},
      {"one unlisted SHA-1", {Sha1(kUnlisted)}, false, 1},
      {"invalid listed signature", {Invalid()}, false, 1},
      {"invalid listed SHA-1", {Invalid(kListedA, false)}, false, 1},
      {"SHA-1 listed, SHA-256 unlisted", {Sha1(kListedA), Sha256(kUnlisted)}, false, 2},
      {"SHA-256 unlisted, SHA-1 listed", {Sha256(kUnlisted), Sha1(kListedA)}, false, 2},
      {"SHA-1 unlisted, SHA-256 listed", {Sha1(kUnlisted), Sha256(kListedA)}, true, 2},
      {"SHA-256 listed stops the walk", {Sha256(kListedA), Sha256(kUnlisted), Sha1(kListedB)},
       true, 1},
      {"second SHA-256 listed", {Sha256(kUnlisted), Sha256(kListedB), Sha1(kListedA)}, true, 2},
      {"SHA-1 listed does not stop", {Sha1(kListedA), Sha1(kUnlisted), Sha1(kListedB)}, true, 3},
      {"listed SHA-1 revoked by unlisted SHA-256, then a listed SHA-256",
       {Sha1(kListedA), Sha256(kUnlisted), Sha256(kListedB)}, true, 3},
      {"listed SHA-1 after an unlisted SHA-256 is ignored",
       {Sha256(kUnlisted), Sha1(kListedA), Sha1(kListedB)}, false, 3},
      {"invalid SHA-256 does not switch to SHA-256 only",
       {Invalid(kUnlisted, true), Sha1(kListedA)}, true, 2},
      {"invalid listed SHA-256 is not accepted", {Invalid(kListedA, true), Sha256(kUnlisted)},
       false, 2},
      {"empty identifier", {Sha256(std::string())}, false, 1},
  };
  for (const WalkCase& c : kCases) {
    size_t considered = 99;
    EXPECT_EQ(c.accepted, SelectTrustedSignature(Listed(), c.records, &considered)) << c.name;
    EXPECT_EQ(c.considered, considered) << c.name;
  }
}

TEST(SignatureSelectionTest, EmptySetAcceptsNothing) {
  size_t considered = 0;
  EXPECT_FALSE(SelectTrustedSignature({}, {Sha256(kListedA), Sha1(kListedA)}, &considered));
  EXPECT_EQ(2u, considered);
}

// The rules in words: once any valid SHA-256 signature exists, the archive passes exactly when
// a valid SHA-256 signature is listed, and the walk stops at the first of them; otherwise it
// passes when any valid signature is listed.
bool ExpectedAccepted(const std::vector<SignatureRecord>& records, size_t* stop) {
  bool any_sha256 = false, listed_sha256 = false, listed_any = false;
  *stop = records.size();
  for (size_t i = 0; i < records.size(); ++i) {
    const SignatureRecord& r = records[i];
    if (!r.valid) continue;
    const bool listed = Listed().count(r.identifier) != 0;
    if (r.is_sha256) {
      any_sha256 = true;
      if (listed && !listed_sha256) {
        listed_sha256 = true;
        *stop = i + 1;
      }
    }
    listed_any = listed_any || listed;
  }
  return any_sha256 ? listed_sha256 : listed_any;
}

TEST(SignatureSelectionTest, EverySequenceUpToFourSignatures) {
  const SignatureRecord kKinds[] = {
      Invalid(kListedA, true), Invalid(kListedA, false), Sha256(kListedA), Sha256(kUnlisted),
      Sha1(kListedB),          Sha1(kUnlisted),
  };
  const size_t kinds = sizeof(kKinds) / sizeof(kKinds[0]);
  int checked = 0;
  for (size_t length = 0; length <= 4; ++length) {
    size_t total = 1;
    for (size_t i = 0; i < length; ++i) total *= kinds;
    for (size_t n = 0; n < total; ++n) {
      std::vector<SignatureRecord> records;
      std::string label;
      for (size_t i = 0, rest = n; i < length; ++i, rest /= kinds) {
        records.push_back(kKinds[rest % kinds]);
        label += std::to_string(rest % kinds);
      }
      size_t expected_stop = 0;
      const bool expected = ExpectedAccepted(records, &expected_stop);
      size_t considered = 0;
      ASSERT_EQ(expected, SelectTrustedSignature(Listed(), records, &considered)) << label;
      ASSERT_EQ(expected_stop, considered) << label;
      // The incremental form agrees step by step.
      SignatureSelection selection(Listed());
      size_t stopped_at = records.size();
      for (size_t i = 0; i < records.size(); ++i) {
        if (selection.Consider(records[i])) {
          stopped_at = i + 1;
          break;
        }
      }
      ASSERT_EQ(expected_stop, stopped_at) << label;
      ASSERT_EQ(expected, selection.result()) << label;
      ++checked;
    }
  }
  EXPECT_EQ(1 + 6 + 36 + 216 + 1296, checked);
}

// ---------------------------------------------------------------------------------------------
// The WinTrust glue, over a fake trust provider.

// One signature as the fake provider reports it. Serials are given most significant byte
// first; the fake stores them the way CERT_INFO does (least significant first).
struct FakeSignature {
  LONG result = 0;
  DWORD signers = 1;
  std::vector<std::string> chain = {std::string("\x4A\x01\x00\x03", 4), std::string("\x4A\x01", 2)};
  const char* algorithm = kSha256RsaOid;
  DWORD chain_errors = 0;
  bool chain_context = true;
  int missing_cert = -1;  // index GetProvCertFromChain answers null for
  // Certificate contents: the signer's validity ends here, its usage list (null: none), the
  // issuers' basic constraints, and the time the provider verified as of (0: not given).
  uint64_t signer_not_after = 0x7FFFFFFFFFFFFFFFull;
  const char* signer_usage = "1.3.6.1.5.5.7.3.3";
  bool issuers_are_ca = true;
  uint64_t verified_as_of = 0;
};

FILETIME FileTime(uint64_t ticks) {
  return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

struct TrustCall {
  DWORD state_action;
  DWORD index;
  HANDLE state;
  // A copy of the settings the provider saw.
  DWORD cb_struct, ui_choice, revocation, union_choice, prov_flags, ui_context;
  std::wstring path;
  HANDLE file;
  DWORD settings_cb, settings_flags;
  bool window_is_invalid_handle;
  bool action_is_verify_v2;
};

class FakeWinTrust : public WinTrustApi {
 public:
  std::vector<FakeSignature> signatures;
  DWORD secondary = 0;
  std::vector<TrustCall> calls;
  int open_states = 0;

  LONG VerifyTrust(HWND window, GUID* action, WINTRUST_DATA* data) override {
    auto* full = reinterpret_cast<WinTrustDataWithSettings*>(data);
    WinTrustSignatureSettings* settings = full->pSignatureSettings;
    const GUID verify_v2 = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    TrustCall call = {data->dwStateAction, settings ? settings->dwIndex : 0xFFFFFFFF,
                      data->hWVTStateData, data->cbStruct, data->dwUIChoice,
                      data->fdwRevocationChecks, data->dwUnionChoice, data->dwProvFlags,
                      data->dwUIContext,
                      data->pFile && data->pFile->pcwszFilePath ? data->pFile->pcwszFilePath : L"",
                      data->pFile ? data->pFile->hFile : INVALID_HANDLE_VALUE,
                      settings ? settings->cbStruct : 0, settings ? settings->dwFlags : 0,
                      window == static_cast<HWND>(INVALID_HANDLE_VALUE),
                      action && IsEqualGUID(*action, verify_v2)};
    calls.push_back(call);
    if (data->dwStateAction == WTD_STATEACTION_CLOSE) {
      if (data->hWVTStateData) --open_states;
      data->hWVTStateData = nullptr;
      return 0;
    }
    if (!settings) return ERROR_INVALID_PARAMETER;
    settings->cSecondarySigs = secondary;
    if (settings->dwIndex >= signatures.size()) return TRUST_E_NOSIGNATURE;
    Build(settings->dwIndex);
    data->hWVTStateData = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(settings->dwIndex + 1));
    ++open_states;
    return signatures[settings->dwIndex].result;
  }

  CRYPT_PROVIDER_DATA* ProvDataFromStateData(HANDLE state) override {
    const uintptr_t index = reinterpret_cast<uintptr_t>(state);
    if (index == 0 || index > built_.size() || !built_[index - 1]) return nullptr;
    return &built_[index - 1]->provider;
  }
  CRYPT_PROVIDER_SGNR* GetProvSignerFromChain(CRYPT_PROVIDER_DATA* data, DWORD signer,
                                              BOOL counter_signer, DWORD) override {
    signer_requests.push_back({signer, counter_signer != FALSE});
    return data->csSigners > signer ? &data->pasSigners[signer] : nullptr;
  }
  CRYPT_PROVIDER_CERT* GetProvCertFromChain(CRYPT_PROVIDER_SGNR* signer, DWORD cert) override {
    for (auto& built : built_) {
      if (built && &built->signer == signer && static_cast<int>(cert) == built->missing_cert)
        return nullptr;
    }
    return cert < signer->csCertChain ? &signer->pasCertChain[cert] : nullptr;
  }

  std::vector<std::pair<DWORD, bool>> signer_requests;

  std::vector<DWORD> VerifiedIndices() const {
    std::vector<DWORD> indices;
    for (const TrustCall& c : calls)
      if (c.state_action == WTD_STATEACTION_VERIFY) indices.push_back(c.index);
    return indices;
  }

 private:
  struct Built {
    CRYPT_PROVIDER_DATA provider{};
    CRYPT_PROVIDER_SGNR signer{};
    std::vector<CRYPT_PROVIDER_CERT> certs;
    std::vector<CERT_CONTEXT> contexts;
    std::vector<CERT_INFO> infos;
    std::vector<std::string> serials;
    std::vector<CERT_EXTENSION> extensions;
    std::string usage_der;
    CERT_CHAIN_CONTEXT chain{};
    std::string algorithm;
    int missing_cert = -1;
  };

  void Build(DWORD index) {
    const FakeSignature& s = signatures[index];
    if (built_.size() <= index) built_.resize(index + 1);
    auto b = std::make_unique<Built>();
    const size_t n = s.chain.size();
    b->certs.resize(n);
    b->contexts.resize(n);
    b->infos.resize(n);
    for (const std::string& serial : s.chain) b->serials.emplace_back(serial.rbegin(), serial.rend());
    b->algorithm = s.algorithm ? s.algorithm : "";
    // DER of the extensions: an extended key usage list of one identifier, and basic
    // constraints with cA true.
    static BYTE ca_true[] = {0x30, 0x03, 0x01, 0x01, 0xFF};
    if (s.signer_usage) {
      const bool code_signing = std::string(s.signer_usage) == "1.3.6.1.5.5.7.3.3";
      // 1.3.6.1.5.5.7.3.3 (code signing) or 1.3.6.1.5.5.7.3.1 (server authentication).
      b->usage_der = std::string("\x30\x0A\x06\x08\x2B\x06\x01\x05\x05\x07\x03", 11) +
                     (code_signing ? '\x03' : '\x01');
    }
    b->extensions.resize(n);
    for (size_t i = 0; i < n; ++i) {
      CERT_EXTENSION& extension = b->extensions[i];
      if (i == 0) {
        extension.pszObjId = const_cast<char*>(szOID_ENHANCED_KEY_USAGE);
        extension.Value.cbData = static_cast<DWORD>(b->usage_der.size());
        extension.Value.pbData = reinterpret_cast<BYTE*>(&b->usage_der[0]);
      } else {
        extension.pszObjId = const_cast<char*>(szOID_BASIC_CONSTRAINTS2);
        extension.Value.cbData = sizeof(ca_true);
        extension.Value.pbData = ca_true;
      }
      const bool has_extension = i == 0 ? s.signer_usage != nullptr : s.issuers_are_ca;
      b->infos[i].cExtension = has_extension ? 1 : 0;
      b->infos[i].rgExtension = has_extension ? &extension : nullptr;
      b->infos[i].dwVersion = CERT_V3;
      b->infos[i].NotAfter = FileTime(i == 0 ? s.signer_not_after : 0x7FFFFFFFFFFFFFFFull);
    }
    for (size_t i = 0; i < n; ++i) {
      b->infos[i].SerialNumber.cbData = static_cast<DWORD>(b->serials[i].size());
      b->infos[i].SerialNumber.pbData = reinterpret_cast<BYTE*>(&b->serials[i][0]);
      b->infos[i].SignatureAlgorithm.pszObjId =
          s.algorithm ? const_cast<char*>(b->algorithm.c_str()) : nullptr;
      b->contexts[i].pCertInfo = &b->infos[i];
      b->certs[i].cbStruct = sizeof(CRYPT_PROVIDER_CERT);
      b->certs[i].pCert = &b->contexts[i];
    }
    b->chain.cbSize = sizeof(CERT_CHAIN_CONTEXT);
    b->chain.TrustStatus.dwErrorStatus = s.chain_errors;
    b->signer.cbStruct = sizeof(CRYPT_PROVIDER_SGNR);
    b->signer.csCertChain = static_cast<DWORD>(n);
    b->signer.pasCertChain = n ? b->certs.data() : nullptr;
    b->signer.pChainContext = s.chain_context ? &b->chain : nullptr;
    b->signer.sftVerifyAsOf = FileTime(s.verified_as_of);
    b->provider.cbStruct = sizeof(CRYPT_PROVIDER_DATA);
    b->provider.csSigners = s.signers;
    b->provider.pasSigners = &b->signer;
    b->missing_cert = s.missing_cert;
    built_[index] = std::move(b);
  }

  std::vector<std::unique_ptr<Built>> built_;
};

// Issuer serial 4A 01 then signer serial 4A 01 00 03: the default FakeSignature's identifier.
const std::string kDefaultId = std::string("\x4A\x01\x4A\x01\x00\x03", 6);
const std::string kOtherId = std::string("\x4A\x01\x4A\x01\x00\x04", 6);

FakeSignature Signature(const std::string& signer_serial, const char* algorithm = kSha256RsaOid,
                        LONG result = 0) {
  FakeSignature s;
  s.chain = {signer_serial, std::string("\x4A\x01", 2)};
  s.algorithm = algorithm;
  s.result = result;
  return s;
}

constexpr char kSha1RsaOid[] = "1.2.840.113549.1.1.5";

TEST(WinTrustVerifierTest, DescribesTheFileAndTheSignatureToVerify) {
  for (bool revocation_off : {false, true}) {
    FakeWinTrust fake;
    fake.signatures = {FakeSignature()};
    {
      WinTrustVerifier verifier(&fake);
      verifier.Prepare(L"C:\\temp\\setup.arc", revocation_off);
      EXPECT_EQ(0, verifier.Verify(0));
    }
    ASSERT_EQ(2u, fake.calls.size());
    const TrustCall& c = fake.calls[0];
    EXPECT_EQ(static_cast<DWORD>(WTD_STATEACTION_VERIFY), c.state_action);
    EXPECT_EQ(sizeof(WinTrustDataWithSettings), c.cb_struct);
    EXPECT_EQ(static_cast<DWORD>(WTD_UI_NONE), c.ui_choice);
    EXPECT_EQ(static_cast<DWORD>(WTD_CHOICE_FILE), c.union_choice);
    EXPECT_EQ(L"C:\\temp\\setup.arc", c.path);
    EXPECT_EQ(nullptr, c.file);
    EXPECT_EQ(static_cast<DWORD>(WTD_UICONTEXT_INSTALL), c.ui_context);
    EXPECT_EQ(sizeof(WinTrustSignatureSettings), c.settings_cb);
    EXPECT_EQ(kWssVerifySpecific | kWssGetSecondarySigCount, c.settings_flags);
    EXPECT_EQ(0u, c.index);
    EXPECT_TRUE(c.window_is_invalid_handle);
    EXPECT_TRUE(c.action_is_verify_v2);
    if (revocation_off) {
      EXPECT_EQ(static_cast<DWORD>(WTD_REVOKE_NONE), c.revocation);
      EXPECT_EQ(static_cast<DWORD>(WTD_CACHE_ONLY_URL_RETRIEVAL), c.prov_flags);
    } else {
      EXPECT_EQ(static_cast<DWORD>(WTD_REVOKE_WHOLECHAIN), c.revocation);
      EXPECT_EQ(static_cast<DWORD>(WTD_REVOCATION_CHECK_CHAIN), c.prov_flags);
    }
    // Destruction closed the state the verification left open.
    EXPECT_EQ(static_cast<DWORD>(WTD_STATEACTION_CLOSE), fake.calls[1].state_action);
    EXPECT_EQ(reinterpret_cast<HANDLE>(1), fake.calls[1].state);
    EXPECT_EQ(0, fake.open_states);
  }
}

TEST(WinTrustVerifierTest, ClosesOpenStateBeforeTheNextVerification) {
  FakeWinTrust fake;
  fake.signatures = {FakeSignature(), FakeSignature()};
  WinTrustVerifier verifier(&fake);
  verifier.Prepare(L"C:\\a.exe", false);
  verifier.Verify(0);
  verifier.Verify(1);
  verifier.Close();
  verifier.Close();  // nothing open any more: no call
  ASSERT_EQ(4u, fake.calls.size());
  EXPECT_EQ(static_cast<DWORD>(WTD_STATEACTION_VERIFY), fake.calls[0].state_action);
  EXPECT_EQ(static_cast<DWORD>(WTD_STATEACTION_CLOSE), fake.calls[1].state_action);
  EXPECT_EQ(reinterpret_cast<HANDLE>(1), fake.calls[1].state);
  EXPECT_EQ(static_cast<DWORD>(WTD_STATEACTION_VERIFY), fake.calls[2].state_action);
  EXPECT_EQ(1u, fake.calls[2].index);
  EXPECT_EQ(nullptr, fake.calls[2].state);
  EXPECT_EQ(static_cast<DWORD>(WTD_STATEACTION_CLOSE), fake.calls[3].state_action);
  EXPECT_EQ(0, fake.open_states);
}

TEST(WinTrustVerifierTest, ClosesStateOfAFailedVerificationToo) {
  FakeWinTrust fake;
  fake.signatures = {Signature(std::string("\x01", 1), kSha256RsaOid, TRUST_E_BAD_DIGEST)};
  {
    WinTrustVerifier verifier(&fake);
    verifier.Prepare(L"C:\\a.exe", false);
    EXPECT_EQ(TRUST_E_BAD_DIGEST, verifier.Verify(0));
    // A new file: the old state is closed first.
    verifier.Prepare(L"C:\\b.exe", false);
    EXPECT_EQ(2u, fake.calls.size());
  }
  ASSERT_EQ(2u, fake.calls.size());
  EXPECT_EQ(static_cast<DWORD>(WTD_STATEACTION_CLOSE), fake.calls[1].state_action);
  EXPECT_EQ(0, fake.open_states);
}

TEST(WinTrustVerifierTest, NothingToCloseBeforeAVerification) {
  FakeWinTrust fake;
  {
    WinTrustVerifier verifier(&fake);
    verifier.Prepare(L"C:\\a.exe", false);
  }
  EXPECT_TRUE(fake.calls.empty());
}

TEST(WinTrustVerifierTest, ReadsTheSignerIdentifierAndAlgorithm) {
  FakeWinTrust fake;
  FakeSignature s;
  s.chain = {std::string("\x00\x80\x01\x02", 4), std::string("\x7F\xFE", 2),
             std::string("\x99", 1)};
  s.algorithm = kSha1RsaOid;
  fake.signatures = {s, FakeSignature()};
  WinTrustVerifier verifier(&fake);
  verifier.Prepare(L"C:\\a.exe", false);
  ASSERT_EQ(0, verifier.Verify(0));
  SignatureRecord record;
  ASSERT_TRUE(verifier.ReadSigner(&record));
  EXPECT_TRUE(record.valid);
  // Issuer (second certificate) first, then the signer; the root plays no part.
  EXPECT_EQ(std::string("\x7F\xFE\x00\x80\x01\x02", 6), record.identifier);
  EXPECT_FALSE(record.is_sha256);
  ASSERT_EQ(1u, fake.signer_requests.size());
  EXPECT_EQ(0u, fake.signer_requests[0].first);
  EXPECT_FALSE(fake.signer_requests[0].second);

  ASSERT_EQ(0, verifier.Verify(1));
  ASSERT_TRUE(verifier.ReadSigner(&record));
  EXPECT_EQ(kDefaultId, record.identifier);
  EXPECT_TRUE(record.is_sha256);
}

TEST(WinTrustVerifierTest, SkipsSignersItCannotIdentify) {
  struct Case {
    const char* name;
    FakeSignature signature;
  };
  std::vector<Case> cases;
  auto add = [&](const char* name, auto change) {
    FakeSignature s;
    change(s);
    cases.push_back({name, s});
  };
  add("two signers", [](FakeSignature& s) { s.signers = 2; });
  add("no signer", [](FakeSignature& s) { s.signers = 0; });
  add("chain of one (self-signed)", [](FakeSignature& s) { s.chain.resize(1); });
  add("no signing certificate", [](FakeSignature& s) { s.missing_cert = 0; });
  add("no issuer certificate", [](FakeSignature& s) { s.missing_cert = 1; });
  add("empty signer serial", [](FakeSignature& s) { s.chain[0].clear(); });
  add("empty issuer serial", [](FakeSignature& s) { s.chain[1].clear(); });
  add("untrusted root", [](FakeSignature& s) { s.chain_errors = CERT_TRUST_IS_UNTRUSTED_ROOT; });
  add("bad certificate signature",
      [](FakeSignature& s) { s.chain_errors = CERT_TRUST_IS_NOT_SIGNATURE_VALID; });
  add("revoked", [](FakeSignature& s) { s.chain_errors = CERT_TRUST_IS_REVOKED; });
  add("partial chain", [](FakeSignature& s) { s.chain_errors = CERT_TRUST_IS_PARTIAL_CHAIN; });
  add("cyclic chain", [](FakeSignature& s) { s.chain_errors = CERT_TRUST_IS_CYCLIC; });
  add("explicitly distrusted",
      [](FakeSignature& s) { s.chain_errors = CERT_TRUST_IS_EXPLICIT_DISTRUST; });
  add("no chain context", [](FakeSignature& s) { s.chain_context = false; });
  add("expired signer", [](FakeSignature& s) { s.signer_not_after = 1; });
  add("signer for server authentication only",
      [](FakeSignature& s) { s.signer_usage = "1.3.6.1.5.5.7.3.1"; });
  add("issued by a certificate that is no CA", [](FakeSignature& s) { s.issuers_are_ca = false; });
  for (const Case& c : cases) {
    FakeWinTrust fake;
    fake.signatures = {c.signature};
    WinTrustVerifier verifier(&fake);
    verifier.Prepare(L"C:\\a.exe", false);
    ASSERT_EQ(0, verifier.Verify(0)) << c.name;
    SignatureRecord record;
    record.identifier = "untouched";
    EXPECT_FALSE(verifier.ReadSigner(&record)) << c.name;
    EXPECT_FALSE(record.valid) << c.name;
    EXPECT_EQ("untouched", record.identifier) << c.name;
  }
}

TEST(WinTrustVerifierTest, JudgesTimeAtTheVerificationTimeAndIgnoresOtherChainNotes) {
  const uint64_t k2021 = 132539328000000000ull;  // 2021-01-01 in FILETIME units
  struct Case {
    const char* name;
    DWORD chain_errors;
    uint64_t signer_not_after;
    uint64_t verified_as_of;
    const char* usage;
    bool accepted;
  };
  const Case kCases[] = {
      {"provider's time note", CERT_TRUST_IS_NOT_TIME_VALID, 0x7FFFFFFFFFFFFFFFull, 0,
       "1.3.6.1.5.5.7.3.3", true},
      {"expired now, valid at the timestamp", 0, k2021, k2021 - 1, "1.3.6.1.5.5.7.3.3", true},
      {"expired at the timestamp", 0, k2021, k2021 + 1, "1.3.6.1.5.5.7.3.3", false},
      {"no usage list: any usage", 0, 0x7FFFFFFFFFFFFFFFull, 0, nullptr, true},
  };
  for (const Case& c : kCases) {
    FakeWinTrust fake;
    FakeSignature s;
    s.chain_errors = c.chain_errors;
    s.signer_not_after = c.signer_not_after;
    s.verified_as_of = c.verified_as_of;
    s.signer_usage = c.usage;
    fake.signatures = {s};
    WinTrustVerifier verifier(&fake);
    verifier.Prepare(L"C:\\a.exe", false);
    ASSERT_EQ(0, verifier.Verify(0));
    SignatureRecord record;
    EXPECT_EQ(c.accepted, verifier.ReadSigner(&record)) << c.name;
  }
}

TEST(ChainProblemTest, EveryCertificateValidForCodeSigningAndIssuedByACa) {
  const ChainCertificate leaf = {100, 200, true, true, false};
  const ChainCertificate root = {0, 1000, false, false, true};
  struct Case {
    const char* name;
    std::vector<ChainCertificate> chain;
    uint64_t when;
    const char* problem;  // a fragment; null: trusted
  };
  ChainCertificate server_leaf = leaf, leaf_as_issuer = leaf, limited_root = root;
  server_leaf.lists_code_signing = false;
  limited_root.has_usage_list = true;
  const Case kCases[] = {
      {"sound chain", {leaf, root}, 150, nullptr},
      {"no usage list on the leaf", {{100, 200, false, false, false}, root}, 150, nullptr},
      {"first moment", {leaf, root}, 100, nullptr},
      {"last moment", {leaf, root}, 200, nullptr},
      {"chain of one", {leaf}, 150, "no issuer"},
      {"before the signer's validity", {leaf, root}, 99, "signing certificate is outside"},
      {"after the signer's validity", {leaf, root}, 201, "signing certificate is outside"},
      {"after the root's validity", {{100, 2000, true, true, false}, root}, 1001,
       "issuing certificate is outside"},
      {"server authentication only", {server_leaf, root}, 150, "not valid for code signing"},
      {"root limited to other usages", {leaf, limited_root}, 150, "excludes code signing"},
      {"leaf used as an issuer", {leaf, leaf_as_issuer, root}, 150, "no CA issued"},
  };
  for (const Case& c : kCases) {
    const char* problem = ChainProblem(c.chain, c.when);
    if (c.problem == nullptr) {
      EXPECT_EQ(nullptr, problem) << c.name << ": " << problem;
    } else {
      ASSERT_NE(nullptr, problem) << c.name;
      EXPECT_NE(nullptr, std::strstr(problem, c.problem)) << c.name << ": " << problem;
    }
  }
}

TEST(WinTrustVerifierTest, NoSignerBeforeAVerification) {
  FakeWinTrust fake;
  fake.signatures = {FakeSignature()};
  WinTrustVerifier verifier(&fake);
  verifier.Prepare(L"C:\\a.exe", false);
  SignatureRecord record;
  EXPECT_FALSE(verifier.ReadSigner(&record));
}

struct CheckCase {
  const char* name;
  std::vector<FakeSignature> signatures;
  DWORD secondary;
  TrustedCertificateIds ids;
  bool accepted;
  std::vector<DWORD> verified;
};

TEST(CheckAuthenticodeTest, WalksTheSignaturesTheProviderReports) {
  const std::string kSerialA("\x4A\x01\x00\x03", 4);  // kDefaultId
  const std::string kSerialB("\x4A\x01\x00\x04", 4);  // kOtherId
  const CheckCase kCases[] = {
      {"single listed SHA-256", {Signature(kSerialA)}, 0, {kDefaultId}, true, {0}},
      {"single unlisted SHA-256", {Signature(kSerialA)}, 0, {kOtherId}, false, {0}},
      {"single listed SHA-1", {Signature(kSerialA, kSha1RsaOid)}, 0, {kDefaultId}, true, {0}},
      {"single invalid", {Signature(kSerialA, kSha256RsaOid, TRUST_E_BAD_DIGEST)}, 0,
       {kDefaultId}, false, {0}},
      {"SHA-256 unlisted, nested SHA-1 listed",
       {Signature(kSerialB), Signature(kSerialA, kSha1RsaOid)}, 1, {kDefaultId}, false, {0, 1}},
      {"SHA-1 listed, nested SHA-256 unlisted",
       {Signature(kSerialA, kSha1RsaOid), Signature(kSerialB)}, 1, {kDefaultId}, false, {0, 1}},
      {"only the SHA-256 listed passes at it",
       {Signature(kSerialA, kSha1RsaOid), Signature(kSerialB), Signature(kSerialA)}, 2,
       {kOtherId}, true, {0, 1}},
      {"listed primary stops the walk", {Signature(kSerialA), Signature(kSerialB)}, 1,
       {kDefaultId}, true, {0}},
      {"invalid primary, listed nested",
       {Signature(kSerialB, kSha256RsaOid, TRUST_E_BAD_DIGEST), Signature(kSerialA)}, 1,
       {kDefaultId}, true, {0, 1}},
      {"nested signatures are not looked at unless reported",
       {Signature(kSerialB), Signature(kSerialA)}, 0, {kDefaultId}, false, {0}},
      {"every reported index is tried, even past the known ones", {Signature(kSerialB)}, 2,
       {kDefaultId}, false, {0, 1, 2}},
      {"a claim of more than 32 nested signatures fails closed", {Signature(kSerialA)}, 33,
       {kDefaultId}, false, {0}},
  };
  for (const CheckCase& c : kCases) {
    FakeWinTrust fake;
    fake.signatures = c.signatures;
    fake.secondary = c.secondary;
    EXPECT_EQ(c.accepted, CheckAuthenticode(c.ids, L"C:\\setup.arc", false, &fake)) << c.name;
    EXPECT_EQ(c.verified, fake.VerifiedIndices()) << c.name;
    EXPECT_EQ(0, fake.open_states) << c.name;
    ASSERT_FALSE(fake.calls.empty()) << c.name;
    EXPECT_EQ(static_cast<DWORD>(WTD_STATEACTION_CLOSE), fake.calls.back().state_action) << c.name;
  }
}

TEST(CheckAuthenticodeTest, EmptySetFailsWithoutATrustCall) {
  FakeWinTrust fake;
  fake.signatures = {FakeSignature()};
  EXPECT_FALSE(CheckAuthenticode({}, L"C:\\setup.arc", false, &fake));
  EXPECT_TRUE(fake.calls.empty());
}

TEST(CheckAuthenticodeTest, RevocationFlagReachesTheProvider) {
  for (bool revocation_off : {false, true}) {
    FakeWinTrust fake;
    fake.signatures = {FakeSignature()};
    EXPECT_TRUE(CheckAuthenticode({kDefaultId}, L"C:\\setup.arc", revocation_off, &fake));
    ASSERT_FALSE(fake.calls.empty());
    EXPECT_EQ(revocation_off ? static_cast<DWORD>(WTD_REVOKE_NONE)
                             : static_cast<DWORD>(WTD_REVOKE_WHOLECHAIN),
              fake.calls[0].revocation);
  }
}

}  // namespace
}  // namespace installer

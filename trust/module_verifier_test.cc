#include "trust/module_verifier.h"

#include <windows.h>

#include <gtest/gtest.h>
#include <jansson.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "build_config/trusted_keys.h"
#include "install/installer.h"
#include "platform/base64.h"
#include "tests/support/test_log.h"
#include "tests/support/test_paths.h"

namespace installer {
namespace {

using test_support::BuildFile;
using test_support::ReadFileBytes;
using test_support::ScopedTempDir;
using test_support::ScopedTestLog;
using test_support::WriteFileBytes;

std::wstring StandIn(const std::wstring& variant) {
  return BuildFile(L"stand_in\\" + variant + L".exe");
}

// Base64 identifiers of the test PKI's signing certificates, written by the fixture builder.
std::string IdOf(const char* certificate) {
  std::string text = ReadFileBytes(BuildFile(L"stand_in\\ids.json"));
  json_error_t error;
  json_t* root = json_loadb(text.data(), text.size(), 0, &error);
  std::string id;
  if (json_t* value = json_object_get(root, certificate)) id = json_string_value(value);
  json_decref(root);
  return id;
}

std::string ListOf(const std::vector<const char*>& certificates) {
  std::string json = R"({"trusted_info":{"certificates":[)";
  for (size_t i = 0; i < certificates.size(); ++i) {
    if (i) json += ",";
    json += R"({"id":")" + IdOf(certificates[i]) + R"("})";
  }
  return json + "]}}";
}

TEST(IsAbsoluteModulePathTest, DriveOrUncRoots) {
  const struct {
    const wchar_t* path;
    bool absolute;
  } kCases[] = {
      {L"C:\\setup.arc", true},  {L"c:/setup.arc", true},   {L"Z:\\", true},
      {L"\\\\server\\s\\a", true}, {L"//server/s/a", true}, {L"\\/x", true},
      {L"C:setup.arc", false},   {L"C:", false},           {L"1:\\a", false},
      {L"\\setup.arc", false},   {L"setup.arc", false},    {L".\\setup.arc", false},
      {L"", false},              {L"\\", false},           {L"\x00C4:\\a", false},
  };
  for (const auto& c : kCases) EXPECT_EQ(c.absolute, IsAbsoluteModulePath(c.path)) << c.path;
}

struct TrustJsonCase {
  const wchar_t* variant;
  bool found;
  std::vector<const wchar_t*> lines;  // error lines expected, in this order
};

TEST(GetTrustJsonFromModuleTest, ReadsAndChecksTheResources) {
  const TrustJsonCase kCases[] = {
      {L"good", true, {}},
      {L"unsigned", true, {}},  // the list is checked here, the file's signatures later
      {L"certificates_object", true, {}},
      {L"no_signature_dat", false, {L"Cannot find resource SIGNATURE_DAT"}},
      {L"short_signature_dat", false, {L"Cannot find resource SIGNATURE_DAT"}},
      {L"no_trusted_json", false, {L"Cannot find resource TRUSTED_JSON"}},
      {L"bad_key_index", false, {L"Cannot find key"}},
      {L"wrong_key", false,
       {L"ERROR: VerifySignature (", L"Failed to verify signature, error: ", L"Verify error"}},
      {L"json_changed", false,
       {L"ERROR: VerifySignature (", L"Failed to verify signature, error: ", L"Verify error"}},
  };
  for (const TrustJsonCase& c : kCases) {
    ScopedTestLog log;
    const std::string json = GetTrustJsonFromModule(StandIn(c.variant));
    EXPECT_EQ(c.found, !json.empty()) << c.variant;
    const std::wstring text = log.Text();
    size_t at = 0;
    for (const wchar_t* line : c.lines) {
      at = text.find(line, at);
      EXPECT_NE(std::wstring::npos, at) << c.variant << ": " << line << "\n" << text;
      if (at == std::wstring::npos) break;
    }
    if (c.found) {
      EXPECT_EQ(L"", text) << c.variant;
    } else {
      // Exactly one line of the function itself, at error level.
      EXPECT_EQ(1, log.CountLines(L"ERROR: GetTrustJsonFromModule (")) << c.variant << text;
    }
  }
}

TEST(GetTrustJsonFromModuleTest, ReturnsTheListBytesUnchanged) {
  const std::string expected = ReadFileBytes(BuildFile(L"stand_in_gen\\good.trusted.json"));
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(expected, GetTrustJsonFromModule(StandIn(L"good")));
}

TEST(GetTrustJsonFromModuleTest, RefusesPathsItCannotLoad) {
  ScopedTempDir dir;
  const std::wstring not_an_image = dir.File(L"text.exe");
  ASSERT_TRUE(WriteFileBytes(not_an_image, "MZ but not really an image"));
  const struct {
    std::wstring path;
    std::wstring line;
  } kCases[] = {
      {L"stand_in\\good.exe",
       L"Attempting to GetTrustJsonFromModule at an invalid path: stand_in\\good.exe"},
      {L"", L"Attempting to GetTrustJsonFromModule at an invalid path: "},
      {dir.File(L"missing.exe"),
       L"Failed to load module for GetTrustJsonFromModule: " + dir.File(L"missing.exe")},
      {not_an_image, L"Failed to load module for GetTrustJsonFromModule: " + not_an_image},
  };
  for (const auto& c : kCases) {
    ScopedTestLog log;
    EXPECT_EQ("", GetTrustJsonFromModule(c.path)) << c.path;
    EXPECT_EQ(1, log.CountLines(L"ERROR: GetTrustJsonFromModule (")) << c.path;
    EXPECT_TRUE(log.Contains(c.line)) << log.Text();
  }
}

TEST(GetTrustJsonFromModuleTest, KeyTableLookup) {
  const char* keys[10];
  for (int i = 0; i < 10; ++i) keys[i] = build_config::kTrustedPublicKeys[i];
  const std::wstring good = StandIn(L"good");
  {
    ScopedTestLog log;
    EXPECT_NE("", GetTrustJsonFromModuleForTesting(good, keys, 10));
  }
  const char* const kBadEntries[] = {"", "not Base64!", nullptr,
                                     build_config::kTrustedPublicKeys[5]};
  for (const char* entry : kBadEntries) {
    const char* table[10];
    for (int i = 0; i < 10; ++i) table[i] = keys[i];
    table[4] = entry;  // the fixtures name key 4
    ScopedTestLog log;
    EXPECT_EQ("", GetTrustJsonFromModuleForTesting(good, table, 10));
    if (entry == build_config::kTrustedPublicKeys[5])
      EXPECT_TRUE(log.Contains(L"Verify error"));  // another real key: the RSA check fails
    else
      EXPECT_TRUE(log.Contains(L"Cannot find key")) << (entry ? entry : "(null)");
  }
  // A table too short for the index.
  ScopedTestLog log;
  EXPECT_EQ("", GetTrustJsonFromModuleForTesting(good, keys, 4));
  EXPECT_TRUE(log.Contains(L"Cannot find key"));
}

struct VariantCase {
  const wchar_t* variant;
  bool passes;
};

TEST(ArchiveVerificationTest, EveryStandInVariant) {
  const VariantCase kCases[] = {
      {L"good", true},          {L"good_dual", true},          {L"sha1", true},
      {L"unlisted_dual", false}, {L"unlisted", false},          {L"self_signed", false},
      {L"lookalike", false},    {L"forged", false},            {L"unsigned", false},
      {L"tampered", false},     {L"no_signature_dat", false},  {L"no_trusted_json", false},
      {L"short_signature_dat", false}, {L"bad_key_index", false}, {L"wrong_key", false},
      {L"json_changed", false}, {L"certificates_object", false}, {L"expired", false},
      {L"server_only", false},  {L"leaf_issuer", false},
  };
  Installer verifier({});
  for (const VariantCase& c : kCases) {
    ScopedTestLog log;
    EXPECT_EQ(c.passes, verifier.VerifyModuleSignature(StandIn(c.variant))) << c.variant;
  }
}

struct ListCase {
  const wchar_t* variant;
  std::vector<const char*> listed;
  bool passes;
};

TEST(ArchiveVerificationTest, TrustedListDecidesAmongValidSignatures) {
  const ListCase kCases[] = {
      // good_dual: SHA-256 by sign_sha256, nested SHA-1 by sign_sha1.
      {L"good_dual", {"sign_sha256"}, true},
      {L"good_dual", {"sign_sha1"}, false},  // SHA-1 listed, SHA-256 not: fails
      {L"good_dual", {"sign_sha1", "sign_sha256"}, true},
      // unlisted_dual: SHA-256 by sign_unlisted, nested SHA-1 by sign_sha1.
      {L"unlisted_dual", {"sign_sha1"}, false},
      {L"unlisted_dual", {"sign_unlisted"}, true},
      {L"sha1", {"sign_sha1"}, true},
      {L"sha1", {"sign_sha256"}, false},
      {L"good", {"sign_unlisted", "sign_sha1"}, false},
      {L"unlisted", {"sign_unlisted"}, true},
      // Listed, but refused by the chain checks.
      {L"self_signed", {"self_signed"}, false},
      {L"lookalike", {"lookalike"}, false},
      {L"forged", {"sign_sha256"}, false},
      {L"tampered", {"sign_sha256", "sign_sha1"}, false},
      {L"unsigned", {"sign_sha256", "sign_sha1"}, false},
  };
  Installer verifier({});
  for (const ListCase& c : kCases) {
    for (const char* name : c.listed) ASSERT_NE("", IdOf(name)) << name;
    EXPECT_EQ(c.passes, verifier.VerifyModuleWithTrustJson(StandIn(c.variant), ListOf(c.listed)))
        << c.variant << " " << ListOf(c.listed);
  }
}

TEST(ArchiveVerificationTest, NoUsableListFailsWithoutAskingWindows) {
  const std::string kLists[] = {
      "",
      R"({"trusted_info":{"certificates":[]}})",
      R"({"trusted_info":{"certificates":{"id":")" + IdOf("sign_sha256") + R"("}}})",
      R"({"trusted_info":{"certificates":[{"id":"not Base64"}]}})",
  };
  for (const std::string& list : kLists) {
    struct Recorder : Installer {
      Recorder() : Installer({}) {}
      int calls = 0;
      bool CheckAuthenticode(const TrustedCertificateIds& ids, const std::wstring& path,
                             bool revocation_off) override {
        ++calls;
        return Installer::CheckAuthenticode(ids, path, revocation_off);
      }
    } verifier;
    EXPECT_FALSE(verifier.VerifyModuleWithTrustJson(StandIn(L"good"), list)) << list;
    EXPECT_EQ(1, verifier.calls);
  }
}

// The three operations call each other through their virtual slots, so the install flow can
// replace any one of them.
TEST(ArchiveVerificationTest, OperationsChainThroughTheVirtualSlots) {
  struct Recorder : Installer {
    Recorder() : Installer({}) {}
    std::string json;
    TrustedCertificateIds ids;
    std::wstring path;
    int revocation_off = -1;
    bool VerifyModuleWithTrustJson(const std::wstring& p, const std::string& j) override {
      json = j;
      return Installer::VerifyModuleWithTrustJson(p, j);
    }
    bool CheckAuthenticode(const TrustedCertificateIds& i, const std::wstring& p,
                           bool off) override {
      ids = i;
      path = p;
      revocation_off = off;
      return true;
    }
  };
  Recorder verifier;
  EXPECT_TRUE(verifier.VerifyModuleSignature(StandIn(L"good")));
  EXPECT_EQ(ReadFileBytes(BuildFile(L"stand_in_gen\\good.trusted.json")), verifier.json);
  EXPECT_EQ(StandIn(L"good"), verifier.path);
  EXPECT_EQ(0, verifier.revocation_off);
  std::string sha256_id, sha1_id;
  ASSERT_TRUE(platform::Base64Decode(IdOf("sign_sha256"), &sha256_id));
  ASSERT_TRUE(platform::Base64Decode(IdOf("sign_sha1"), &sha1_id));
  // The fixture list names seven certificates plus elements the parser skips.
  EXPECT_EQ(7u, verifier.ids.size());
  EXPECT_EQ(1u, verifier.ids.count(sha256_id));
  EXPECT_EQ(1u, verifier.ids.count(sha1_id));

  Recorder missing;
  ScopedTestLog log;
  EXPECT_TRUE(missing.VerifyModuleSignature(StandIn(L"no_trusted_json")));  // the fake's answer
  EXPECT_EQ("", missing.json);
  EXPECT_TRUE(missing.ids.empty());
}

// ---------------------------------------------------------------------------------------------
// Random single-byte changes to the signed program: every one must be refused.
// LI_TAMPER_SAMPLES sets the count (default 50; the long run uses 1000), LI_TAMPER_SEED the seed.

uint32_t Read32(const std::string& data, size_t offset) {
  if (offset + 4 > data.size()) return 0;
  return static_cast<uint8_t>(data[offset]) | static_cast<uint8_t>(data[offset + 1]) << 8 |
         static_cast<uint8_t>(data[offset + 2]) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(data[offset + 3])) << 24;
}

// Byte ranges the Authenticode hash covers: the whole file but the checksum, the
// certificate-table directory entry and the certificate table itself.
std::vector<std::pair<size_t, size_t>> HashedRanges(const std::string& data) {
  const size_t pe = Read32(data, 0x3C);
  const size_t optional = pe + 24;
  if (pe == 0 || optional + 136 > data.size()) return {};
  const size_t checksum = optional + 64;
  // Entry 4 of the data directories, 16 bytes further on in a PE32+ header.
  const bool pe32_plus = Read32(data, optional) % 0x10000 == 0x20B;
  const size_t directory = optional + (pe32_plus ? 144 : 128);
  const size_t table = Read32(data, directory);
  const size_t table_size = Read32(data, directory + 4);
  if (table == 0 || table > data.size() || table_size > data.size() - table) return {};
  return {{0, checksum}, {checksum + 4, directory}, {directory + 8, table},
          {table + table_size, data.size()}};
}

uint64_t EnvNumber(const char* name, uint64_t fallback) {
  const char* text = std::getenv(name);
  return text && *text ? std::strtoull(text, nullptr, 10) : fallback;
}

TEST(ArchiveVerificationTest, RefusesRandomSingleByteChanges) {
  const std::string original = ReadFileBytes(StandIn(L"good"));
  const auto ranges = HashedRanges(original);
  ASSERT_FALSE(ranges.empty());
  size_t hashed = 0;
  for (const auto& r : ranges) hashed += r.second - r.first;
  ASSERT_GT(hashed, original.size() / 2);

  const uint64_t samples = EnvNumber("LI_TAMPER_SAMPLES", 50);
  const uint64_t seed = EnvNumber("LI_TAMPER_SEED", GetTickCount());
  std::mt19937_64 random(seed);
  ScopedTempDir dir;
  Installer verifier({});
  {
    // The unchanged copy passes, so every refusal below is the change's doing.
    ASSERT_TRUE(WriteFileBytes(dir.File(L"original.exe"), original));
    ScopedTestLog log;
    ASSERT_TRUE(verifier.VerifyModuleSignature(dir.File(L"original.exe")));
  }
  for (uint64_t n = 0; n < samples; ++n) {
    size_t pick = std::uniform_int_distribution<size_t>(0, hashed - 1)(random);
    size_t offset = 0;
    for (const auto& r : ranges) {
      if (pick < r.second - r.first) {
        offset = r.first + pick;
        break;
      }
      pick -= r.second - r.first;
    }
    const uint8_t flip = static_cast<uint8_t>(std::uniform_int_distribution<int>(1, 255)(random));
    std::string changed = original;
    changed[offset] = static_cast<char>(static_cast<uint8_t>(changed[offset]) ^ flip);
    const std::wstring path = dir.File(L"changed" + std::to_wstring(n) + L".exe");
    ASSERT_TRUE(WriteFileBytes(path, changed));
    ScopedTestLog log;
    EXPECT_FALSE(verifier.VerifyModuleSignature(path))
        << "offset " << offset << " xor " << static_cast<int>(flip) << " seed " << seed;
    DeleteFileW(path.c_str());
  }
}

}  // namespace
}  // namespace installer

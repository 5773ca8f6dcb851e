#include "trust/signature_verifier.h"

#include <gtest/gtest.h>

#include <string>

#include "build_config/trusted_keys.h"
#include "platform/base64.h"
#include "tests/support/test_log.h"
#include "tests/support/test_paths.h"

namespace installer {
namespace {

using test_support::BuildFile;
using test_support::ReadFileBytes;
using test_support::ScopedTestLog;

// The good fixture's trusted list, its SIGNATURE.DAT (index 4, then the RSA signature made by
// openssl with keys/key4.pem) and the matching built-in key.
struct SignedList {
  std::string json;
  std::string signature;
  std::string key;
  std::string other_key;
};

SignedList LoadSignedList() {
  SignedList list;
  list.json = ReadFileBytes(BuildFile(L"stand_in_gen\\good.trusted.json"));
  std::string dat = ReadFileBytes(BuildFile(L"stand_in_gen\\good.signature.dat"));
  if (dat.size() > 2) list.signature = dat.substr(2);
  platform::Base64Decode(build_config::kTrustedPublicKeys[4], &list.key);
  platform::Base64Decode(build_config::kTrustedPublicKeys[7], &list.other_key);
  return list;
}

class SignatureVerifierTest : public ::testing::Test {
 protected:
  void SetUp() override {
    list_ = LoadSignedList();
    ASSERT_FALSE(list_.json.empty());
    ASSERT_EQ(128u, list_.signature.size());
    ASSERT_EQ(162u, list_.key.size());
  }
  SignedList list_;
};

TEST_F(SignatureVerifierTest, AcceptsTheSignedList) {
  ScopedTestLog log;
  SignatureVerifier verifier;
  EXPECT_TRUE(verifier.Verify(list_.signature, list_.key, list_.json));
  EXPECT_EQ(L"", log.Text());
}

TEST_F(SignatureVerifierTest, RefusesChangedInputs) {
  std::string changed_json = list_.json;
  changed_json[changed_json.size() / 2] ^= 0x20;
  std::string changed_signature = list_.signature;
  changed_signature[64] ^= 0x01;
  // CryptoAPI takes the signature least significant byte first: passing it through unreversed
  // must fail, so the verifier has to do the reversal itself.
  std::string reversed_signature(list_.signature.rbegin(), list_.signature.rend());
  struct Case {
    const char* name;
    std::string signature, key, data;
  } cases[] = {
      {"one data byte changed", list_.signature, list_.key, changed_json},
      {"data cut short", list_.signature, list_.key, list_.json.substr(0, list_.json.size() - 1)},
      {"data extended", list_.signature, list_.key, list_.json + " "},
      {"one signature byte changed", changed_signature, list_.key, list_.json},
      {"signature reversed", reversed_signature, list_.key, list_.json},
      {"signature of another key", list_.signature, list_.other_key, list_.json},
  };
  for (const Case& c : cases) {
    ScopedTestLog log;
    SignatureVerifier verifier;
    EXPECT_FALSE(verifier.Verify(c.signature, c.key, c.data)) << c.name;
    EXPECT_EQ(1, log.CountLines(L"ERROR: VerifySignature (")) << c.name;
    EXPECT_TRUE(log.Contains(L"Failed to verify signature, error: ")) << c.name;
  }
}

TEST_F(SignatureVerifierTest, RefusesKeysThatDoNotDecode) {
  const std::string kKeys[] = {
      "",
      "not DER at all",
      list_.key.substr(0, list_.key.size() - 10),
      list_.key.substr(1),
  };
  for (const std::string& key : kKeys) {
    ScopedTestLog log;
    SignatureVerifier verifier;
    EXPECT_FALSE(verifier.Verify(list_.signature, key, list_.json)) << key.size();
    EXPECT_TRUE(log.Contains(L"ImportPublicKey (")) << key.size();
    EXPECT_TRUE(log.Contains(L"Failed to convert decode public key, error: ")) << key.size();
    // The check stops at the failing step.
    EXPECT_FALSE(log.Contains(L"VerifySignature")) << key.size();
  }
}

TEST_F(SignatureVerifierTest, EmptySignatureFailsWithoutACall) {
  ScopedTestLog log;
  SignatureVerifier verifier;
  EXPECT_FALSE(verifier.Verify("", list_.key, list_.json));
  EXPECT_EQ(L"", log.Text());
}

TEST_F(SignatureVerifierTest, StepsRunOneByOne) {
  ScopedTestLog log;
  SignatureVerifier verifier;
  ASSERT_TRUE(verifier.Initialize());
  ASSERT_TRUE(verifier.HashData(list_.json));
  ASSERT_TRUE(verifier.ImportPublicKey(list_.key));
  EXPECT_TRUE(verifier.VerifySignature(list_.signature));
  verifier.Cleanup();
  // After Cleanup nothing is left to verify against.
  EXPECT_FALSE(verifier.VerifySignature(list_.signature));
  EXPECT_TRUE(log.Contains(L"Failed to verify signature, error: "));
  EXPECT_FALSE(log.Contains(L"Cleanup ("));
}

TEST_F(SignatureVerifierTest, HashWithoutContextFails) {
  ScopedTestLog log;
  SignatureVerifier verifier;
  EXPECT_FALSE(verifier.HashData(list_.json));
  EXPECT_TRUE(log.Contains(L"HashData ("));
  EXPECT_TRUE(log.Contains(L"Failed to initialize hash object, error: "));
}

TEST_F(SignatureVerifierTest, InitializeStartsOver) {
  // A second Initialize releases the first context's hash and key: the old hash is gone, so
  // verifying without hashing again fails, and hashing again succeeds.
  SignatureVerifier verifier;
  ASSERT_TRUE(verifier.Initialize());
  ASSERT_TRUE(verifier.HashData(list_.json));
  ASSERT_TRUE(verifier.Initialize());
  ASSERT_TRUE(verifier.ImportPublicKey(list_.key));
  {
    ScopedTestLog log;
    EXPECT_FALSE(verifier.VerifySignature(list_.signature));
  }
  ASSERT_TRUE(verifier.HashData(list_.json));
  EXPECT_TRUE(verifier.VerifySignature(list_.signature));
}

TEST_F(SignatureVerifierTest, VerifierIsReusable) {
  SignatureVerifier verifier;
  EXPECT_TRUE(verifier.Verify(list_.signature, list_.key, list_.json));
  EXPECT_FALSE(verifier.Verify(list_.signature, list_.other_key, list_.json));
  EXPECT_TRUE(verifier.Verify(list_.signature, list_.key, list_.json));
}

}  // namespace
}  // namespace installer

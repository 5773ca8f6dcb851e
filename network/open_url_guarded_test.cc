#include "network/open_url_guarded.h"

#include <gtest/gtest.h>

#include <atomic>

#include "network/internet_api.h"
#include "platform/scoped_handle.h"
#include "platform/strings.h"
#include "tests/support/publisher_log.h"

namespace installer {
namespace {

SehExceptionInfo Info(uint32_t code, const char* dll, const char* proc) {
  SehExceptionInfo info;
  info.code = code;
  info.dll = dll;
  info.proc = proc;
  return info;
}

// A keeper that hands each handle to `keep`.
template <typename Function>
class LambdaKeeper final : public HandleKeeper {
 public:
  explicit LambdaKeeper(Function keep) : keep_(keep) {}
  bool Keep(HINTERNET handle, bool is_request) override { return keep_(handle, is_request); }

 private:
  Function keep_;
};

TEST(DescribeExceptionTest, JoinsThePartsThatAreThere) {
  struct Case {
    SehExceptionInfo info;
    const char* text;
  } cases[] = {
      {Info(0xC06D007E, "cplib.dll", "CryptoProX"),
       "Exception with code=3228369022dll_name=cplib.dllproc_name=CryptoProX"},
      {Info(0xC06D007E, "wininet.dll", ""), "Exception with code=3228369022dll_name=wininet.dll"},
      {Info(0xC0000005, "", ""), "Exception with code=3221225477"},
      {Info(5, "", "OnlyProc"), "Exception with code=5proc_name=OnlyProc"},
      {Info(0, "", ""), "Exception with code=0"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.text, DescribeException(c.info));
}

TEST(IsCryptoProFailureTest, NeedsTheCodeTheLibraryAndTheProcedure) {
  struct Case {
    SehExceptionInfo info;
    bool crypto_pro;
  } cases[] = {
      {Info(0xC06D007E, "cplib.dll", "CryptoProRevocation"), true},
      {Info(0xC06D007E, "CPLIB.DLL", "xxCRYPTOproyy"), true},
      {Info(0xC06D007E, "CpLib.Dll", "cryptopro"), true},
      {Info(0xC06D007E, "cplib.dll", ""), false},  // import by ordinal
      {Info(0xC06D007E, "cplib.dll", "CryptoPr"), false},
      {Info(0xC06D007E, "cplib.dll.bak", "CryptoPro"), false},
      {Info(0xC06D007E, "xcplib.dll", "CryptoPro"), false},
      {Info(0xC06D007F, "cplib.dll", "CryptoPro"), false},
      {Info(0xC0000005, "cplib.dll", "CryptoPro"), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.crypto_pro, IsCryptoProFailure(c.info))
        << c.info.dll << " " << c.info.proc;
  }
}

TEST(OpenUrlGuardedTest, AFailingOpenKeepsItsErrorAndRecordsNoException) {
  // A handle WinINet never gave out: the same call without the guard tells the error to expect.
  HINTERNET bogus = reinterpret_cast<HINTERNET>(0x1234);
  SetLastError(0);
  EXPECT_EQ(nullptr, InternetOpenUrlW(bogus, L"https://localhost/", nullptr, 0, 0, 1));
  DWORD expected = GetLastError();
  ASSERT_NE(0u, expected);

  SehExceptionInfo info = Info(9, "stale", "stale");
  SetLastError(0);
  bool kept = false;
  LambdaKeeper keep([&](HINTERNET, bool) { return kept = true; });
  EXPECT_EQ(RelaxedSend::kFailed, OpenUrlGuarded(InternetApi::Default(), bogus,
                                                 L"https://localhost/", L"", 1, false, keep, &info));
  EXPECT_EQ(expected, GetLastError());
  EXPECT_FALSE(kept);
  EXPECT_EQ(0u, info.code);
  EXPECT_EQ("", info.dll);
  EXPECT_EQ("", info.proc);
}

// A module hooked into WinINet that faults while a URL is opened: here the status callback,
// which WinINet calls on the opening thread as the request goes out.
std::atomic<int> g_faulting_callbacks{0};
void CALLBACK FaultingCallback(HINTERNET, DWORD_PTR, DWORD, void*, DWORD) {
  ++g_faulting_callbacks;
  RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr);
}

TEST(OpenUrlGuardedTest, ACrashInsideWinInetBecomesARecordedException) {
  ASSERT_TRUE(LoadWinInetGuarded(nullptr));
  platform::ScopedInternetHandle internet(
      InternetOpenW(L"test", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  ASSERT_TRUE(internet);
  ASSERT_NE(INTERNET_INVALID_STATUS_CALLBACK,
            InternetSetStatusCallbackW(internet.get(), &FaultingCallback));
  SehExceptionInfo info = Info(9, "stale", "stale");
  bool kept = false;
  LambdaKeeper keep([&](HINTERNET, bool) { return kept = true; });
  EXPECT_EQ(RelaxedSend::kRaised,
            OpenUrlGuarded(InternetApi::Default(), internet.get(),
                           platform::Widen(test_support::PublisherUrl(
                               "/gen/10?m=" + test_support::UniqueMarker())),
                           kAcceptAnyHeader, 1, false, keep, &info));
  EXPECT_FALSE(kept);
  EXPECT_EQ(1, g_faulting_callbacks.load());
  EXPECT_EQ(0xC0000005u, info.code);
  EXPECT_EQ("", info.dll);
  EXPECT_EQ("", info.proc);
  // WinINet's frames were left where the fault came; a lock they held would stay taken.
  (void)internet.release();
}

// The retry without the revocation check is made step by step; WinINet must take it as the
// same GET that InternetOpenUrlW makes (path, query and port kept, the answer readable).
TEST(OpenUrlGuardedTest, TheRelaxedRetrySendsTheSameRequestOverWinInet) {
  ASSERT_TRUE(LoadWinInetGuarded(nullptr));
  const std::string marker = test_support::UniqueMarker();
  platform::ScopedInternetHandle internet(
      InternetOpenW(L"test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
  ASSERT_TRUE(internet);
  platform::ScopedInternetHandle connection;
  platform::ScopedInternetHandle request;
  SehExceptionInfo exception;
  LambdaKeeper keep([&](HINTERNET handle, bool is_request) {
    (is_request ? request : connection).reset(handle);
    return true;
  });
  RelaxedSend sent = OpenUrlGuarded(
      InternetApi::Default(), internet.get(),
      platform::Widen(test_support::PublisherUrl("/gen/10?m=" + marker)), kAcceptAnyHeader, 1,
      true, keep, &exception);
  ASSERT_EQ(RelaxedSend::kSent, sent) << GetLastError();
  DWORD flags = 0;
  DWORD length = sizeof(flags);
  ASSERT_TRUE(InternetQueryOptionW(request.get(), INTERNET_OPTION_SECURITY_FLAGS, &flags, &length));
  EXPECT_NE(0u, flags & SECURITY_FLAG_IGNORE_REVOCATION);
  char body[64] = {};
  DWORD read = 0;
  ASSERT_TRUE(InternetReadFile(request.get(), body, sizeof(body), &read));
  EXPECT_EQ(10u, read);
  std::vector<test_support::PublisherRequest> seen = test_support::PublisherRequestsWith(marker, 1);
  ASSERT_EQ(1u, seen.size());
  EXPECT_EQ("/gen/10", seen[0].path);
  EXPECT_EQ("*/*", seen[0].headers["Accept"]);
}

}  // namespace
}  // namespace installer

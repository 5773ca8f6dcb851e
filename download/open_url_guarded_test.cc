#include "download/open_url_guarded.h"

#include <gtest/gtest.h>

#include "platform/scoped_handle.h"

namespace installer {
namespace {

DownloadFailureInfo Info(uint32_t code, const char* dll, const char* proc) {
  DownloadFailureInfo info;
  info.exception_code = code;
  info.exception_dll = dll;
  info.exception_proc = proc;
  return info;
}

TEST(DescribeExceptionTest, JoinsThePartsThatAreThere) {
  struct Case {
    DownloadFailureInfo info;
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
    DownloadFailureInfo info;
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
        << c.info.exception_dll << " " << c.info.exception_proc;
  }
}

TEST(OpenUrlGuardedTest, AFailingOpenKeepsItsErrorAndRecordsNoException) {
  // A handle WinINet never gave out: the same call without the guard tells the error to expect.
  HINTERNET bogus = reinterpret_cast<HINTERNET>(0x1234);
  SetLastError(0);
  EXPECT_EQ(nullptr, InternetOpenUrlW(bogus, L"https://localhost/", nullptr, 0, 0, 1));
  DWORD expected = GetLastError();
  ASSERT_NE(0u, expected);

  DownloadFailureInfo info = Info(9, "stale", "stale");
  SetLastError(0);
  HINTERNET request = OpenUrlGuarded(bogus, L"https://localhost/", nullptr, 0, 0, 1, &info);
  EXPECT_EQ(expected, GetLastError());
  EXPECT_EQ(nullptr, request);
  EXPECT_EQ(0u, info.exception_code);
  EXPECT_EQ("", info.exception_dll);
  EXPECT_EQ("", info.exception_proc);
}

TEST(OpenUrlGuardedTest, ACrashInsideWinInetBecomesARecordedException) {
  platform::ScopedInternetHandle internet(
      InternetOpenW(L"test", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  ASSERT_TRUE(internet);
  DownloadFailureInfo info;
  // WinINet reads the URL it is given; an address nothing is mapped at makes it fault.
  HINTERNET request = OpenUrlGuarded(internet.get(), reinterpret_cast<const wchar_t*>(0x10),
                                     nullptr, 0, INTERNET_FLAG_RELOAD, 1, &info);
  EXPECT_EQ(nullptr, request);
  EXPECT_EQ(0xC0000005u, info.exception_code);
  EXPECT_EQ("", info.exception_dll);
  EXPECT_EQ("", info.exception_proc);
}

}  // namespace
}  // namespace installer

#include "platform/windows_version.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace platform {
namespace {

TEST(WindowsVersionTest, ClassifiesEveryVersion) {
  struct Case {
    uint32_t major;
    uint32_t minor;
    uint32_t build;
    int version_class;
  };
  const Case cases[] = {
      {4, 0, 1381, kWindowsPreXp},
      {4, 90, 3000, kWindowsPreXp},
      {5, 0, 2195, kWindowsPreXp},
      {5, 1, 2600, kWindowsXp},
      {5, 2, 3790, kWindowsServer2003},
      {5, 3, 0, kWindowsServer2003},
      {6, 0, 6002, kWindowsVista},
      {6, 1, 7601, kWindows7},
      {6, 2, 9200, kWindows8},
      {6, 3, 9600, kWindows8_1},
      {6, 4, 9841, kWindows8_1},
      {7, 0, 0, kWindowsOtherMajor},
      {9, 9, 0, kWindowsOtherMajor},
      {10, 0, 0, kWindows10},
      {10, 0, 10240, kWindows10},
      {10, 0, 10585, kWindows10},
      {10, 0, 10586, kWindows10Build10586},
      {10, 0, 14392, kWindows10Build10586},
      {10, 0, 14393, kWindows10Build14393},
      {10, 0, 15062, kWindows10Build14393},
      {10, 0, 15063, kWindows10Build15063},
      {10, 0, 16298, kWindows10Build15063},
      {10, 0, 16299, kWindows10Build16299},
      {10, 0, 17126, kWindows10Build16299},
      {10, 0, 17127, kWindows10Build17127},
      {10, 0, 17134, kWindows10Build17127},
      {10, 0, 17603, kWindows10Build17127},
      {10, 0, 17604, kWindows10Build17604},
      {10, 0, 17763, kWindows10Build17604},
      {10, 0, 19045, kWindows10Build17604},
      {10, 0, 22631, kWindows10Build17604},
      {11, 0, 0, kWindowsOtherMajor},
      {12, 0, 30000, kWindowsOtherMajor},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.version_class, ClassifyWindowsVersion(c.major, c.minor, c.build))
        << c.major << "." << c.minor << "." << c.build;
  }
  // The numbers callers compare with.
  EXPECT_EQ(12, ClassifyWindowsVersion(10, 0, 17134));
  EXPECT_EQ(13, ClassifyWindowsVersion(10, 0, 17763));
  EXPECT_EQ(6, ClassifyWindowsVersion(6, 3, 9600));
  EXPECT_EQ(8, ClassifyWindowsVersion(10, 0, 10586));
  EXPECT_EQ(14, ClassifyWindowsVersion(7, 0, 0));
}

TEST(WindowsVersionTest, EditionsFromSuiteMaskAndProductType) {
  EXPECT_EQ(Edition::kHome, EditionFromSuiteMask(VER_SUITE_PERSONAL, VER_NT_WORKSTATION));
  EXPECT_EQ(Edition::kProfessional, EditionFromSuiteMask(0, VER_NT_WORKSTATION));
  EXPECT_EQ(Edition::kProfessional,
            EditionFromSuiteMask(VER_SUITE_SINGLEUSERTS, VER_NT_WORKSTATION));
  EXPECT_EQ(Edition::kServer, EditionFromSuiteMask(VER_SUITE_ENTERPRISE, VER_NT_SERVER));
  EXPECT_EQ(Edition::kServer, EditionFromSuiteMask(0, VER_NT_DOMAIN_CONTROLLER));

  struct Case {
    uint32_t product_type;
    Edition edition;
  };
  const Case cases[] = {
      {0x65, Edition::kHome},          {0x64, Edition::kHome},
      {0x03, Edition::kHome},          {0x0B, Edition::kHome},
      {0x30, Edition::kProfessional},  {0x01, Edition::kProfessional},
      {0xA1, Edition::kProfessional},  {0x04, Edition::kEnterprise},
      {0x7D, Edition::kEnterprise},    {0x79, Edition::kEducation},
      {0x7A, Edition::kEducation},     {0x07, Edition::kServer},
      {0x00, Edition::kUnknown},       {0xABCDEF, Edition::kUnknown},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.edition, EditionFromProductType(c.product_type)) << std::hex << c.product_type;
  }
}

TEST(WindowsVersionTest, Architectures) {
  EXPECT_EQ(Architecture::kX86, ArchitectureFromProcessor(PROCESSOR_ARCHITECTURE_INTEL));
  EXPECT_EQ(Architecture::kX64, ArchitectureFromProcessor(PROCESSOR_ARCHITECTURE_AMD64));
  EXPECT_EQ(Architecture::kIa64, ArchitectureFromProcessor(PROCESSOR_ARCHITECTURE_IA64));
  EXPECT_EQ(Architecture::kOther, ArchitectureFromProcessor(PROCESSOR_ARCHITECTURE_ARM));
  EXPECT_EQ(Architecture::kOther, ArchitectureFromProcessor(PROCESSOR_ARCHITECTURE_UNKNOWN));
}

TEST(WindowsVersionTest, RecordMatchesWhatWindowsReports) {
  OSVERSIONINFOEXW os = {};
  os.dwOSVersionInfoSize = sizeof(os);
  ASSERT_TRUE(GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&os)));
  const WindowsVersionInfo& info = GetWindowsVersion();
  EXPECT_EQ(os.dwMajorVersion, info.major);
  EXPECT_EQ(os.dwMinorVersion, info.minor);
  EXPECT_EQ(os.dwBuildNumber, info.build);
  EXPECT_EQ(os.wServicePackMajor, info.service_pack_major);
  EXPECT_EQ(ClassifyWindowsVersion(os.dwMajorVersion, os.dwMinorVersion, os.dwBuildNumber),
            info.version_class);
  EXPECT_EQ(info.version_class, WindowsVersionClass());

  BOOL wow64 = FALSE;
  ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
  EXPECT_EQ(wow64 ? Wow64State::kEnabled : Wow64State::kDisabled, info.wow64);
  SYSTEM_INFO system = {};
  GetNativeSystemInfo(&system);
  EXPECT_EQ(ArchitectureFromProcessor(system.wProcessorArchitecture), info.architecture);

  DWORD ubr = 0;
  DWORD size = sizeof(ubr);
  if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", L"UBR",
                   RRF_RT_REG_DWORD, nullptr, &ubr, &size) == ERROR_SUCCESS) {
    EXPECT_EQ(ubr, info.ubr);
  } else {
    EXPECT_EQ(0u, info.ubr);
  }
}

TEST(WindowsVersionTest, ConcurrentFirstUsesAgreeOnOneRecord) {
  std::atomic<bool> start{false};
  std::vector<const WindowsVersionInfo*> seen(8, nullptr);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < seen.size(); ++i) {
    threads.emplace_back([&, i] {
      while (!start.load()) {
      }
      seen[i] = &GetWindowsVersion();
    });
  }
  start = true;
  for (std::thread& thread : threads) thread.join();
  for (const WindowsVersionInfo* record : seen) EXPECT_EQ(&GetWindowsVersion(), record);
}

TEST(WindowsVersionTest, TestsCanReplaceTheRecord) {
  int real_class = WindowsVersionClass();
  const WindowsVersionInfo* real = &GetWindowsVersion();
  {
    WindowsVersionInfo xp;
    xp.version_class = kWindowsXp;
    xp.major = 5;
    xp.minor = 1;
    ScopedWindowsVersionForTesting forced(xp);
    EXPECT_EQ(kWindowsXp, WindowsVersionClass());
    EXPECT_EQ(5u, GetWindowsVersion().major);
    {
      WindowsVersionInfo win8;
      win8.version_class = kWindows8;
      ScopedWindowsVersionForTesting nested(win8);
      EXPECT_EQ(kWindows8, WindowsVersionClass());
    }
    EXPECT_EQ(kWindowsXp, WindowsVersionClass());
  }
  EXPECT_EQ(real_class, WindowsVersionClass());
  EXPECT_EQ(real, &GetWindowsVersion());
}

}  // namespace
}  // namespace platform

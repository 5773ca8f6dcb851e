// The Windows version the installer runs on.
//
// The record is built once per process on first use and never freed; concurrent first
// uses each build a copy and an atomic compare-and-swap keeps exactly one. Most callers
// only compare the version class (`WindowsVersionClass() < kWindows7`); the pre-install
// check also reads the build number and the update build revision.
//
// The classification and the edition rules are pure functions of the numbers Windows
// reports, so they can be tested for every version without running on it.
#ifndef PLATFORM_WINDOWS_VERSION_H_
#define PLATFORM_WINDOWS_VERSION_H_

#include <cstdint>

namespace platform {

// Version classes, ordered: compare them with < and >.
inline constexpr int kWindowsPreXp = 0;
inline constexpr int kWindowsXp = 1;                  // 5.1
inline constexpr int kWindowsServer2003 = 2;          // 5.2
inline constexpr int kWindowsVista = 3;               // 6.0
inline constexpr int kWindows7 = 4;                   // 6.1
inline constexpr int kWindows8 = 5;                   // 6.2
inline constexpr int kWindows8_1 = 6;                 // 6.3 and later 6.x
inline constexpr int kWindows10 = 7;                  // 10, builds below 10586
inline constexpr int kWindows10Build10586 = 8;        // builds 10586 to 14392
inline constexpr int kWindows10Build14393 = 9;        // builds 14393 to 15062
inline constexpr int kWindows10Build15063 = 10;       // builds 15063 to 16298
inline constexpr int kWindows10Build16299 = 11;       // builds 16299 to 17126
inline constexpr int kWindows10Build17127 = 12;       // builds 17127 to 17603
inline constexpr int kWindows10Build17604 = 13;       // builds 17604 and later
inline constexpr int kWindowsOtherMajor = 14;         // any major version from 7 up but 10

enum class Wow64State { kDisabled = 0, kEnabled = 1, kUnknown = 2 };

// Native processor architecture (PROCESSOR_ARCHITECTURE_* values).
enum class Architecture { kX86 = 0, kIa64 = 6, kX64 = 9, kOther = -1 };

enum class Edition {
  kUnknown = 0,
  kHome,
  kProfessional,
  kEnterprise,
  kEducation,
  kServer,
};

struct WindowsVersionInfo {
  int version_class = kWindowsPreXp;
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t build = 0;
  uint16_t service_pack_major = 0;
  uint16_t service_pack_minor = 0;
  // "UBR" of HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion; 0 when missing.
  uint32_t ubr = 0;
  Wow64State wow64 = Wow64State::kDisabled;
  Architecture architecture = Architecture::kOther;
  Edition edition = Edition::kUnknown;
};

// The version class of (major, minor, build) as GetVersionExW reports them.
int ClassifyWindowsVersion(uint32_t major, uint32_t minor, uint32_t build);
// Edition of a 5.x system from OSVERSIONINFOEXW's wSuiteMask and wProductType.
Edition EditionFromSuiteMask(uint32_t suite_mask, uint8_t product_type);
// Edition of a 6.x or 10 system from GetProductInfo's product type (PRODUCT_*).
Edition EditionFromProductType(uint32_t product_type);
// The architecture for a PROCESSOR_ARCHITECTURE_* value.
Architecture ArchitectureFromProcessor(uint16_t processor_architecture);

// The record of this process, built on first use.
const WindowsVersionInfo& GetWindowsVersion();
// `GetWindowsVersion().version_class`.
int WindowsVersionClass();

// Makes `GetWindowsVersion` return `info` while the object lives (tests only: set it before
// starting threads that read the version, drop it after they are joined).
class ScopedWindowsVersionForTesting {
 public:
  explicit ScopedWindowsVersionForTesting(const WindowsVersionInfo& info);
  ~ScopedWindowsVersionForTesting();
  ScopedWindowsVersionForTesting(const ScopedWindowsVersionForTesting&) = delete;
  ScopedWindowsVersionForTesting& operator=(const ScopedWindowsVersionForTesting&) = delete;

 private:
  WindowsVersionInfo info_;
  const WindowsVersionInfo* previous_;
};

}  // namespace platform

#endif  // PLATFORM_WINDOWS_VERSION_H_

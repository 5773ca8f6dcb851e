#include "platform/windows_version.h"

#include <windows.h>

#include <atomic>
#include <memory>

#include "platform/registry.h"
#include "platform/system_library.h"

namespace platform {

namespace {

std::atomic<const WindowsVersionInfo*> g_version{nullptr};
std::atomic<const WindowsVersionInfo*> g_version_override{nullptr};

Wow64State ReadWow64State() {
  using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
  // Missing before XP SP2; such a system has no 64-bit sibling to run under.
  auto is_wow64_process = reinterpret_cast<IsWow64ProcessFunction>(
      KernelFunction("IsWow64Process"));
  if (!is_wow64_process) return Wow64State::kDisabled;
  BOOL wow64 = FALSE;
  if (!is_wow64_process(::GetCurrentProcess(), &wow64)) return Wow64State::kUnknown;
  return wow64 ? Wow64State::kEnabled : Wow64State::kDisabled;
}

Edition ReadProductEdition(const OSVERSIONINFOEXW& os) {
  if (os.dwMajorVersion == 5) return EditionFromSuiteMask(os.wSuiteMask, os.wProductType);
  if (os.dwMajorVersion < 6) return Edition::kUnknown;
  if (os.wProductType != VER_NT_WORKSTATION) return Edition::kServer;
  using GetProductInfoFunction = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, PDWORD);
  // Looked up so the executable still loads on XP, which lacks it.
  auto get_product_info = reinterpret_cast<GetProductInfoFunction>(
      KernelFunction("GetProductInfo"));
  if (!get_product_info) return Edition::kUnknown;
  DWORD product_type = 0;
  if (!get_product_info(os.dwMajorVersion, os.dwMinorVersion, os.wServicePackMajor,
                        os.wServicePackMinor, &product_type)) {
    return Edition::kUnknown;
  }
  return EditionFromProductType(product_type);
}

WindowsVersionInfo BuildWindowsVersionInfo() {
  WindowsVersionInfo info;
  OSVERSIONINFOEXW os = {};
  os.dwOSVersionInfoSize = sizeof(os);
  if (::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&os))) {
    info.major = os.dwMajorVersion;
    info.minor = os.dwMinorVersion;
    info.build = os.dwBuildNumber;
    info.service_pack_major = os.wServicePackMajor;
    info.service_pack_minor = os.wServicePackMinor;
    info.edition = ReadProductEdition(os);
  }
  info.version_class = ClassifyWindowsVersion(info.major, info.minor, info.build);

  RegKeyReader key;
  DWORD ubr = 0;
  if (key.OpenKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                  KEY_QUERY_VALUE) == ERROR_SUCCESS &&
      key.ReadDword(L"UBR", &ubr) == ERROR_SUCCESS) {
    info.ubr = ubr;
  }

  info.wow64 = ReadWow64State();
  SYSTEM_INFO system = {};
  ::GetNativeSystemInfo(&system);
  info.architecture = ArchitectureFromProcessor(system.wProcessorArchitecture);
  return info;
}

}  // namespace

int ClassifyWindowsVersion(uint32_t major, uint32_t minor, uint32_t build) {
  if (major < 5) return kWindowsPreXp;
  if (major == 5) {
    if (minor == 0) return kWindowsPreXp;  // 2000
    if (minor == 1) return kWindowsXp;
    return kWindowsServer2003;  // 5.2 is also XP x64
  }
  if (major == 6) {
    if (minor == 0) return kWindowsVista;
    if (minor == 1) return kWindows7;
    if (minor == 2) return kWindows8;
    return kWindows8_1;
  }
  if (major == 10) {
    if (build < 10586) return kWindows10;
    if (build < 14393) return kWindows10Build10586;
    if (build < 15063) return kWindows10Build14393;
    if (build < 16299) return kWindows10Build15063;
    if (build < 17127) return kWindows10Build16299;
    if (build < 17604) return kWindows10Build17127;
    return kWindows10Build17604;
  }
  return kWindowsOtherMajor;
}

Edition EditionFromSuiteMask(uint32_t suite_mask, uint8_t product_type) {
  if (product_type != VER_NT_WORKSTATION) return Edition::kServer;
  if (suite_mask & VER_SUITE_PERSONAL) return Edition::kHome;
  return Edition::kProfessional;
}

Edition EditionFromProductType(uint32_t product_type) {
  switch (product_type) {
    case 0x02:  // PRODUCT_HOME_BASIC
    case 0x03:  // PRODUCT_HOME_PREMIUM
    case 0x05:  // PRODUCT_HOME_BASIC_N
    case 0x0B:  // PRODUCT_STARTER
    case 0x1A:  // PRODUCT_HOME_PREMIUM_N
    case 0x2F:  // PRODUCT_STARTER_N
    case 0x42:  // PRODUCT_STARTER_E
    case 0x43:  // PRODUCT_HOME_BASIC_E
    case 0x44:  // PRODUCT_HOME_PREMIUM_E
    case 0x61:  // PRODUCT_CORE_ARM
    case 0x62:  // PRODUCT_CORE_N
    case 0x63:  // PRODUCT_CORE_COUNTRYSPECIFIC
    case 0x64:  // PRODUCT_CORE_SINGLELANGUAGE
    case 0x65:  // PRODUCT_CORE
      return Edition::kHome;
    case 0x01:  // PRODUCT_ULTIMATE
    case 0x06:  // PRODUCT_BUSINESS
    case 0x10:  // PRODUCT_BUSINESS_N
    case 0x1C:  // PRODUCT_ULTIMATE_N
    case 0x30:  // PRODUCT_PROFESSIONAL
    case 0x31:  // PRODUCT_PROFESSIONAL_N
    case 0x45:  // PRODUCT_PROFESSIONAL_E
    case 0x47:  // PRODUCT_ULTIMATE_E
    case 0x67:  // PRODUCT_PROFESSIONAL_WMC
    case 0xA1:  // PRODUCT_PRO_WORKSTATION
    case 0xA2:  // PRODUCT_PRO_WORKSTATION_N
    case 0xA4:  // PRODUCT_PRO_FOR_EDUCATION
    case 0xA5:  // PRODUCT_PRO_FOR_EDUCATION_N
      return Edition::kProfessional;
    case 0x04:  // PRODUCT_ENTERPRISE
    case 0x1B:  // PRODUCT_ENTERPRISE_N
    case 0x46:  // PRODUCT_ENTERPRISE_E
    case 0x48:  // PRODUCT_ENTERPRISE_EVALUATION
    case 0x54:  // PRODUCT_ENTERPRISE_N_EVALUATION
    case 0x7D:  // PRODUCT_ENTERPRISE_S
    case 0x7E:  // PRODUCT_ENTERPRISE_S_N
    case 0x81:  // PRODUCT_ENTERPRISE_S_EVALUATION
    case 0x82:  // PRODUCT_ENTERPRISE_S_N_EVALUATION
    case 0xBC:  // PRODUCT_IOTENTERPRISE
      return Edition::kEnterprise;
    case 0x79:  // PRODUCT_EDUCATION
    case 0x7A:  // PRODUCT_EDUCATION_N
      return Edition::kEducation;
    case 0x07:  // PRODUCT_STANDARD_SERVER
    case 0x08:  // PRODUCT_DATACENTER_SERVER
    case 0x0A:  // PRODUCT_ENTERPRISE_SERVER
    case 0x11:  // PRODUCT_WEB_SERVER
      return Edition::kServer;
    default:
      return Edition::kUnknown;
  }
}

Architecture ArchitectureFromProcessor(uint16_t processor_architecture) {
  switch (processor_architecture) {
    case PROCESSOR_ARCHITECTURE_INTEL:
      return Architecture::kX86;
    case PROCESSOR_ARCHITECTURE_AMD64:
      return Architecture::kX64;
    case PROCESSOR_ARCHITECTURE_IA64:
      return Architecture::kIa64;
    default:
      return Architecture::kOther;
  }
}

const WindowsVersionInfo& GetWindowsVersion() {
  if (const WindowsVersionInfo* forced = g_version_override.load(std::memory_order_acquire)) {
    return *forced;
  }
  const WindowsVersionInfo* existing = g_version.load(std::memory_order_acquire);
  if (existing) return *existing;
  auto built = std::make_unique<WindowsVersionInfo>(BuildWindowsVersionInfo());
  if (g_version.compare_exchange_strong(existing, built.get(), std::memory_order_acq_rel,
                                        std::memory_order_acquire)) {
    // Kept for the life of the process on purpose: callers hold references to it.
    return *built.release();
  }
  // Another thread won; its record is the one everybody sees.
  return *existing;
}

int WindowsVersionClass() { return GetWindowsVersion().version_class; }

ScopedWindowsVersionForTesting::ScopedWindowsVersionForTesting(const WindowsVersionInfo& info)
    : info_(info), previous_(g_version_override.exchange(&info_)) {}

ScopedWindowsVersionForTesting::~ScopedWindowsVersionForTesting() {
  g_version_override.store(previous_);
}

}  // namespace platform

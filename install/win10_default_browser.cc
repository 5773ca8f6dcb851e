#include "install/win10_default_browser.h"

#include <objbase.h>
#include <shobjidl.h>
#include <windows.h>

#include <utility>

#include "platform/command_line.h"
#include "platform/file_path.h"
#include "platform/file_util.h"
#include "platform/logging.h"
#include "platform/process.h"
#include "platform/scoped_handle.h"
#include "platform/strings.h"
#include "platform/switches.h"
#include "platform/system_library.h"
#include "platform/windows_version.h"

namespace installer {
namespace win10_default_browser {
namespace {

constexpr uint32_t kReasonFactor = 1000000000u;
constexpr uint32_t kBuildFactor = 10000u;

// The builds from which the interface is taken as present without asking a copy.
constexpr uint32_t kFirstKnownGoodBuild = 17704;
constexpr uint32_t kKnownGoodRevisionBuild = 17134;
constexpr uint32_t kLastBadRevisionOfThatBuild = 318;

constexpr char kSafeCheckTag[] = "IsInternalInterfaceAvailableSafeCheck";
constexpr char kFailedPrefix[] = "Failed to check Win10 internal interface availability";

// Identifiers of the association-registration object's interfaces as the shell builds
// registered them, newest first. Kind 1 objects still need the handler walk below; kind 0
// objects are enough on their own.
struct RegistrationInterface {
  GUID iid;
  int kind;
};
constexpr RegistrationInterface kRegistrationInterfaces[] = {
    {{0x2a848e25, 0xd688, 0x4aa3, {0x8e, 0x55, 0x0c, 0x16, 0xcb, 0x3a, 0x2d, 0xfb}}, 1},
    {{0xfc0be3a5, 0x6be4, 0x423c, {0xb2, 0x87, 0x24, 0x89, 0x34, 0xe3, 0x79, 0xc7}}, 1},
    {{0x14ebcc88, 0x2831, 0x4fc8, {0xa5, 0xdf, 0x9f, 0x36, 0xa8, 0x1d, 0xb1, 0x2c}}, 0},
    {{0x1c5c9d10, 0x1225, 0x4c97, {0x8c, 0x51, 0x98, 0xe1, 0xb6, 0xf0, 0xd4, 0xe0}}, 0},
    {{0x229d59e2, 0xf94a, 0x402e, {0x9a, 0x9f, 0x3b, 0x84, 0xa1, 0xac, 0xed, 0x77}}, 0},
};
constexpr GUID kCompanionInterface = {
    0xb00dc47b, 0xbff4, 0x4318, {0xbe, 0x5b, 0xa5, 0x85, 0x6f, 0x91, 0x69, 0xa2}};
constexpr GUID kHandlerInterface = {
    0xca635855, 0xb44e, 0x4541, {0x95, 0x91, 0x9f, 0xaa, 0x53, 0x35, 0x4a, 0x53}};
// IID_IEnumAssocHandlers, spelled out so that no import library has to provide it.
constexpr GUID kEnumAssocHandlersInterface = {
    0x973810ae, 0x9599, 0x4b88, {0x9e, 0x4d, 0x6e, 0xe9, 0x8c, 0x95, 0x52, 0xda}};

constexpr const wchar_t* kProtocols[] = {L"http", L"https"};
constexpr const wchar_t* kExtensions[] = {L".htm", L".html"};

const std::wstring* g_check_program_for_testing = nullptr;
uint32_t g_check_timeout_ms = kCheckTimeoutMs;

// Owns one COM interface pointer and releases it once.
template <typename T>
class ScopedComPtr {
 public:
  ScopedComPtr() = default;
  ~ScopedComPtr() { reset(); }
  ScopedComPtr(const ScopedComPtr&) = delete;
  ScopedComPtr& operator=(const ScopedComPtr&) = delete;

  T* get() const { return pointer_; }
  T* operator->() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }
  void reset() {
    if (pointer_ != nullptr) pointer_->Release();
    pointer_ = nullptr;
  }
  // Takes over a pointer a successful call handed out.
  void Attach(void* pointer) {
    reset();
    pointer_ = static_cast<T*>(pointer);
  }

 private:
  T* pointer_ = nullptr;
};

// COM for the duration of the check: the registration object is created through COM, and
// the checking copy answers before the entry flow initialises COM for the thread.
class ScopedComInitialization {
 public:
  ScopedComInitialization()
      : initialized_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ~ScopedComInitialization() {
    if (initialized_) CoUninitialize();
  }
  ScopedComInitialization(const ScopedComInitialization&) = delete;
  ScopedComInitialization& operator=(const ScopedComInitialization&) = delete;

 private:
  bool initialized_;
};

// The shell functions are looked up at run time: SHCreateAssociationRegistration and
// SHAssocEnumHandlers exist from Vista and SHAssocEnumHandlersForProtocolByApplication only
// from Windows 8, so importing them would keep the installer from loading on older systems.
// A missing function answers E_NOTIMPL.
class SystemAssociationShell : public AssociationShell {
 public:
  SystemAssociationShell() : shell32_(platform::LoadSystemLibrary(L"shell32.dll")) {
    if (!shell32_) return;
    create_ = reinterpret_cast<CreateFunction>(
        GetProcAddress(shell32_.get(), "SHCreateAssociationRegistration"));
    enum_protocol_ = reinterpret_cast<EnumProtocolFunction>(
        GetProcAddress(shell32_.get(), "SHAssocEnumHandlersForProtocolByApplication"));
    enum_extension_ = reinterpret_cast<EnumExtensionFunction>(
        GetProcAddress(shell32_.get(), "SHAssocEnumHandlers"));
  }

  HRESULT CreateAssociationRegistration(REFIID iid, void** object) override {
    return create_ ? create_(iid, object) : E_NOTIMPL;
  }
  HRESULT EnumHandlersForProtocol(const wchar_t* protocol, REFIID iid,
                                  void** enumerator) override {
    return enum_protocol_ ? enum_protocol_(protocol, iid, enumerator) : E_NOTIMPL;
  }
  HRESULT EnumHandlersForExtension(const wchar_t* extension,
                                   IEnumAssocHandlers** enumerator) override {
    return enum_extension_ ? enum_extension_(extension, ASSOC_FILTER_NONE, enumerator)
                           : E_NOTIMPL;
  }

 private:
  using CreateFunction = HRESULT(WINAPI*)(REFIID, void**);
  using EnumProtocolFunction = HRESULT(WINAPI*)(PCWSTR, REFIID, void**);
  using EnumExtensionFunction = HRESULT(WINAPI*)(PCWSTR, ASSOC_FILTER, IEnumAssocHandlers**);

  platform::ScopedModule shell32_;
  CreateFunction create_ = nullptr;
  EnumProtocolFunction enum_protocol_ = nullptr;
  EnumExtensionFunction enum_extension_ = nullptr;
};

// The first handler of the enumeration must answer the handler interface.
// COM hands out a reference only with a success code; whatever a failing call left in its
// out-parameter is not ours to release.
template <typename T>
bool Adopt(HRESULT hr, void* object, ScopedComPtr<T>* owner) {
  if (FAILED(hr) || object == nullptr) return false;
  owner->Attach(object);
  return true;
}

bool QueryFor(IUnknown* object, REFIID iid, ScopedComPtr<IUnknown>* answer) {
  void* raw = nullptr;
  HRESULT hr = object->QueryInterface(iid, &raw);
  return Adopt(hr, raw, answer);
}

// The first handler of the enumeration must answer the handler interface.
bool FirstHandlerAnswers(IEnumAssocHandlers* handlers) {
  IAssocHandler* raw = nullptr;
  ULONG fetched = 0;
  HRESULT hr = handlers->Next(1, &raw, &fetched);
  ScopedComPtr<IAssocHandler> handler;
  if (!Adopt(hr, raw, &handler) || hr != S_OK || fetched != 1) return false;
  ScopedComPtr<IUnknown> answer;
  return QueryFor(handler.get(), kHandlerInterface, &answer);
}

bool ProtocolHandlerAnswers(AssociationShell* shell, const wchar_t* protocol) {
  void* raw = nullptr;
  HRESULT hr = shell->EnumHandlersForProtocol(protocol, kEnumAssocHandlersInterface, &raw);
  ScopedComPtr<IEnumAssocHandlers> handlers;
  return Adopt(hr, raw, &handlers) && FirstHandlerAnswers(handlers.get());
}

bool ExtensionHandlerAnswers(AssociationShell* shell, const wchar_t* extension) {
  IEnumAssocHandlers* raw = nullptr;
  HRESULT hr = shell->EnumHandlersForExtension(extension, &raw);
  ScopedComPtr<IEnumAssocHandlers> handlers;
  return Adopt(hr, raw, &handlers) && FirstHandlerAnswers(handlers.get());
}

// One failed check: its line (the prefix, then `detail` and `tail`) and its reason in `*code`.
bool CheckFailed(int line, uint32_t reason, std::string_view detail, uint32_t* code,
                 std::wstring_view tail = {}) {
  LOG_AT(ERROR, kSafeCheckTag, line) << kFailedPrefix << detail << tail;
  *code = SetAvailabilityReason(*code, reason);
  return false;
}

std::wstring CheckProgram() {
  if (g_check_program_for_testing != nullptr) return *g_check_program_for_testing;
  return ProcessCommandLine().ProgramPath();
}

}  // namespace

uint32_t MakeAvailabilityCode(uint32_t build, uint32_t revision, uint32_t reason) {
  if (build > kMaxCodeBuild) build = 0;
  if (revision > kMaxCodeRevision) revision = 0;
  return SetAvailabilityReason(build * kBuildFactor + revision, reason);
}

uint32_t SetAvailabilityReason(uint32_t code, uint32_t reason) {
  if (reason > kReasonOther) reason = kReasonOther;
  return reason * kReasonFactor + code % kReasonFactor;
}

uint32_t AvailabilityReason(uint32_t code) { return code / kReasonFactor; }

bool IsInterfaceKnownAvailable(uint32_t build, uint32_t revision) {
  return build >= kFirstKnownGoodBuild ||
         (build == kKnownGoodRevisionBuild && revision > kLastBadRevisionOfThatBuild);
}

bool HandleCheckInterfaceSwitch(int* exit_code) {
  if (!ProcessCommandLine().Has(switches::kCheckTheInterface)) return false;
  *exit_code = CheckInterfaceInProcess() ? kExitInterfaceAvailable : kExitInterfaceUnavailable;
  return true;
}

bool CheckInterfaceInProcessForTesting(AssociationShell* shell) {
  ScopedComPtr<IUnknown> registration;
  int kind = -1;
  for (const RegistrationInterface& candidate : kRegistrationInterfaces) {
    void* raw = nullptr;
    HRESULT hr = shell->CreateAssociationRegistration(candidate.iid, &raw);
    if (Adopt(hr, raw, &registration)) {
      kind = candidate.kind;
      break;
    }
  }
  if (kind < 0) return false;
  if (kind == 0) return true;

  ScopedComPtr<IUnknown> companion;
  if (!QueryFor(registration.get(), kCompanionInterface, &companion)) return false;
  for (const wchar_t* protocol : kProtocols) {
    if (!ProtocolHandlerAnswers(shell, protocol)) return false;
  }
  for (const wchar_t* extension : kExtensions) {
    if (!ExtensionHandlerAnswers(shell, extension)) return false;
  }
  return true;
}

bool CheckInterfaceInProcess() {
  ScopedComInitialization com;
  SystemAssociationShell shell;
  return CheckInterfaceInProcessForTesting(&shell);
}

bool IsInterfaceAvailable(uint32_t* code) {
  if (platform::WindowsVersionClass() < platform::kWindows10) return false;
  const platform::WindowsVersionInfo& version = platform::GetWindowsVersion();
  uint32_t result_code = MakeAvailabilityCode(version.build, version.ubr, kReasonNone);
  bool available = IsInterfaceKnownAvailable(version.build, version.ubr) ||
                   IsInternalInterfaceAvailableSafeCheck(&result_code);
  *code = result_code;
  return available;
}

bool IsInternalInterfaceAvailableSafeCheck(uint32_t* code) {
  std::wstring program = CheckProgram();
  if (program.empty() || !platform::IsPresent(platform::FilePath(program))) {
    return CheckFailed(__LINE__, kReasonOther, ": can't get installer exe path.", code);
  }

  CommandLine command_line;
  command_line.SetProgramPath(program);
  command_line.Put(switches::kCheckTheInterface);
  std::wstring printed = command_line.Print();
  platform::ProcessHandle child = platform::StartProcess(printed, platform::StartOptions());
  if (!child.IsOpen()) {
    return CheckFailed(__LINE__, kReasonOther, ": can't run installer: ", code, printed);
  }

  uint32_t exit_code = 0;
  if (!child.WaitExitFor(g_check_timeout_ms, &exit_code)) {
    // Not waited for: a copy stuck in the shell may not even die promptly, and its answer
    // no longer matters.
    child.Kill(kExitTerminatedByTimeout, false);
    return CheckFailed(__LINE__, kReasonTimedOut, ",  installer was terminated by timeout.", code);
  }

  // Crashes end a process with an NTSTATUS error code, which is negative as a signed number.
  int32_t signed_code = static_cast<int32_t>(exit_code);
  if (signed_code < 0) {
    return CheckFailed(__LINE__, kReasonCrashed,
                       ", ret code: " + platform::ToString(signed_code) + ", installer crashed",
                       code);
  }
  if (signed_code == kExitInterfaceAvailable || signed_code == kExitInterfaceUnavailable) {
    bool available = signed_code == kExitInterfaceAvailable;
    if (!available) *code = SetAvailabilityReason(*code, kReasonUnavailable);
    LOG(INFO, kSafeCheckTag) << "Successfuly checked Win10 internal interface availability: "
                             << "availability: " << available;
    return available;
  }
  return CheckFailed(__LINE__, kReasonOther,
                     ", unknown ret code: " + platform::ToString(signed_code), code);
}

ScopedCheckProgramForTesting::ScopedCheckProgramForTesting(std::wstring program,
                                                           uint32_t timeout_ms)
    : program_(std::move(program)),
      previous_(g_check_program_for_testing),
      previous_timeout_ms_(g_check_timeout_ms) {
  g_check_program_for_testing = &program_;
  g_check_timeout_ms = timeout_ms;
}

ScopedCheckProgramForTesting::~ScopedCheckProgramForTesting() {
  g_check_program_for_testing = previous_;
  g_check_timeout_ms = previous_timeout_ms_;
}

}  // namespace win10_default_browser
}  // namespace installer

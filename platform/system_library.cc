#include "platform/system_library.h"

#include <windows.h>
#include <delayimp.h>

#include <cstdint>

#include "platform/fatal.h"
#include "platform/file_util.h"
#include "platform/logging.h"
#include "platform/memory_probe.h"
#include "platform/strings.h"
#include "resources/resource_ids.h"

namespace platform {

namespace {

// LOAD_LIBRARY_SEARCH_SYSTEM32 (Windows 8, and Vista and 7 with KB2533623).
constexpr DWORD kSearchSystem32 = 0x800;
// VcppException(ERROR_SEVERITY_ERROR, ERROR_MOD_NOT_FOUND) and (..., ERROR_PROC_NOT_FOUND):
// what the delay-load helper raises when a library, or a function of it, cannot be loaded.
constexpr DWORD kDelayLoadModuleNotFound = 0xC06D007E;
constexpr DWORD kDelayLoadProcNotFound = 0xC06D007F;

LPTOP_LEVEL_EXCEPTION_FILTER g_previous_filter = nullptr;
volatile bool g_silent_run = false;

bool EqualsIgnoringAsciiCase(const wchar_t* a, const wchar_t* b) {
  for (; *a != L'\0' && *b != L'\0'; ++a, ++b) {
    wchar_t x = (*a >= L'A' && *a <= L'Z') ? static_cast<wchar_t>(*a + 32) : *a;
    wchar_t y = (*b >= L'A' && *b <= L'Z') ? static_cast<wchar_t>(*b + 32) : *b;
    if (x != y) return false;
  }
  return *a == *b;
}

bool IsBareName(const wchar_t* name) {
  if (name == nullptr || *name == L'\0') return false;
  for (const wchar_t* c = name; *c != L'\0'; ++c) {
    if (*c == L'\\' || *c == L'/' || *c == L':') return false;
  }
  return true;
}

HMODULE LoadByFullSystemPath(const wchar_t* name) {
  wchar_t path[MAX_PATH];
  UINT length = GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  size_t at = length;
  if (path[at - 1] != L'\\') path[at++] = L'\\';
  for (const wchar_t* c = name; *c != L'\0'; ++c) {
    if (at + 1 >= MAX_PATH) {
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return nullptr;
    }
    path[at++] = *c;
  }
  path[at] = L'\0';
  // The library's own imports are then searched from the system folder too.
  return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// LOAD_WITH_ALTERED_SEARCH_PATH must not be combined with the LOAD_LIBRARY_SEARCH_* flags,
// so a system that has them gets the flag alone.
HMODULE LoadFromSystemFolder(const wchar_t* name) {
  if (HasSystemFolderSearch()) return LoadLibraryExW(name, nullptr, kSearchSystem32);
  return LoadByFullSystemPath(name);
}

// XP (and Server 2003) keep GDI+ only as a side-by-side assembly in WinSxS, with no copy in
// the system folder. The program carries a second manifest (resources/installer.rc), not
// used at start, whose one dependency is that assembly; activated around the load, it makes
// the loader take gdiplus.dll from the store. Nothing is searched for: side by side looks
// for a shared assembly (one with a public key token) in WinSxS before any private folder,
// and the bare name is loaded only when the context redirects it there. Systems without the
// system folder copy also lack the safe search flags, so the program runs from a fresh
// private folder there anyway (install/elevation.h).
HMODULE LoadSideBySide(const wchar_t* name) {
  const FilePath program = OwnExecutablePath();
  if (program.empty()) return nullptr;
  ACTCTXW context = {};
  context.cbSize = sizeof(context);
  context.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID | ACTCTX_FLAG_HMODULE_VALID;
  context.lpSource = program.value().c_str();  // XP wants the image's path beside its module handle
  context.hModule = GetModuleHandleW(nullptr);
  context.lpResourceName = MAKEINTRESOURCEW(IDR_SIDE_BY_SIDE_MANIFEST);
  HANDLE activation_context = CreateActCtxW(&context);
  if (activation_context == INVALID_HANDLE_VALUE) return nullptr;
  HMODULE module = nullptr;
  ULONG_PTR cookie = 0;
  if (ActivateActCtx(activation_context, &cookie)) {
    ACTCTX_SECTION_KEYED_DATA redirection = {};
    redirection.cbSize = sizeof(redirection);
    if (FindActCtxSectionStringW(0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION, name,
                                 &redirection)) {
      module = LoadLibraryW(name);
    }
    const DWORD error = GetLastError();
    DeactivateActCtx(0, cookie);
    SetLastError(error);
  }
  ReleaseActCtx(activation_context);
  return module;
}

// What system libraries load in turn by bare name through the loader's ordinary search: their
// delay-loaded imports, and the static imports of those. Windows keeps such loads in the
// system folder once SetDefaultDllDirectories is in force (and without it the program runs
// from a private folder, install/elevation.h), but Wine resolves them from the program's
// folder first, whatever the search settings. Seen with WINEDEBUG=+loaddll under Wine:
// WinINet's secur32, WinTrust's imagehlp and its dbghelp, crypt32 and its bcrypt, and the
// imaging library GDI+ decodes pictures with, and its propsys; other systems' libraries may
// load others. Each is loaded first by its full path in the system folder; a bare name then
// resolves to the module already loaded. A name's own entry is followed before the name is
// loaded, so that its dependencies are in place first whatever the order (the table holds
// no cycle). A name the system lacks (bcrypt on XP) is skipped: nothing can load it then.
struct SystemDependencies {
  const wchar_t* library;
  const wchar_t* names[2];
};
constexpr SystemDependencies kSystemDependencies[] = {
    {L"crypt32.dll", {L"bcrypt.dll"}},
    {L"gdiplus.dll", {L"windowscodecs.dll"}},
    {L"imagehlp.dll", {L"dbghelp.dll"}},
    {L"windowscodecs.dll", {L"propsys.dll"}},
    // TLS and the certificate checks of HTTPS.
    {L"wininet.dll", {L"secur32.dll", L"crypt32.dll"}},
    {L"wintrust.dll", {L"imagehlp.dll", L"crypt32.dll"}},
};

void LoadSystemDependencies(const wchar_t* library) {
  for (const SystemDependencies& entry : kSystemDependencies) {
    if (!EqualsIgnoringAsciiCase(library, entry.library)) continue;
    for (const wchar_t* name : entry.names) {
      if (name == nullptr || GetModuleHandleW(name) != nullptr) continue;
      LoadSystemDependencies(name);
      LoadFromSystemFolder(name);
    }
  }
}

// Runs inside the delay-load helper, possibly on the first call of a worker thread: no
// allocation, no logging (the log may not be open yet).
FARPROC WINAPI DelayLoadHook(unsigned notification, PDelayLoadInfo info) {
  if (notification != dliNotePreLoadLibrary || info == nullptr || info->szDll == nullptr) {
    return nullptr;
  }
  wchar_t name[MAX_PATH];
  size_t n = 0;
  for (const char* c = info->szDll; *c != '\0'; ++c) {
    if (n + 1 >= MAX_PATH) break;
    name[n++] = static_cast<unsigned char>(*c);
  }
  name[n] = L'\0';
  HMODULE module = LoadSystemLibrary(name);
  if (module == nullptr) {
    // Returning null would let the helper try LoadLibraryA with the ordinary search order,
    // which on systems without the safe search flags starts in the program's folder. Fail
    // the import the way the helper itself does, so that the caller's guard sees it.
    info->dwLastError = GetLastError();
    ULONG_PTR argument = reinterpret_cast<ULONG_PTR>(info);
    RaiseException(kDelayLoadModuleNotFound, 0, 1, &argument);
  }
  return reinterpret_cast<FARPROC>(module);
}

// Runs for an exception that no frame of the faulting thread handled. A silent run ends on
// any, with the exception's code, as Windows would once its dialog was answered. The
// delay-load information comes from the raiser (the helper or the hook above) and is
// checked before it is read, as anyone may raise these codes.
LONG WINAPI EndOnUnhandledException(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  const DWORD code = record->ExceptionCode;
  const auto* info = record->NumberParameters < 1
                         ? nullptr
                         : reinterpret_cast<const DelayLoadInfo*>(record->ExceptionInformation[0]);
  if ((code != kDelayLoadModuleNotFound && code != kDelayLoadProcNotFound) ||
      !IsReadable(info, sizeof(DelayLoadInfo))) {
    if (!g_silent_run) {
      return g_previous_filter ? g_previous_filter(pointers) : EXCEPTION_CONTINUE_SEARCH;
    }
    // On an exhausted stack nothing more may be called.
    if (code != EXCEPTION_STACK_OVERFLOW) {
      OpenLogForFatalEnd();
      LOG(ERROR, "UnhandledException")
          << "Unhandled exception 0x" << ToHexString(code) << " at 0x"
          << ToHexString(reinterpret_cast<uintptr_t>(record->ExceptionAddress))
          << "; the process stops with it as exit code.";
    }
    TerminateProcess(GetCurrentProcess(), code);
    return EXCEPTION_EXECUTE_HANDLER;
  }
  char dll[64];
  char function[64] = "";
  CopyReadableString(info->szDll, dll, sizeof(dll));
  // By ordinal the union holds a number, not a name.
  if (info->dlp.fImportByName) {
    CopyReadableString(info->dlp.szProcName, function, sizeof(function));
  }
  OpenLogForFatalEnd();
  SetLastError(info->dwLastError);
  {
    logging::LogLine line(logging::kERROR, "DelayLoad", __LINE__);
    line << (code == kDelayLoadModuleNotFound ? "Cannot load the system library "
                                              : "No such function in the system library ")
         << dll << " for ";
    if (info->dlp.fImportByName) {
      line << function;
    } else {
      line << "#" << static_cast<unsigned long>(info->dlp.dwOrdinal);
    }
    line << "; the process stops with exit code " << kSystemLibraryMissingExitCode << ".";
  }
  TerminateProcess(GetCurrentProcess(), kSystemLibraryMissingExitCode);
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

HMODULE LoadSideBySideForTesting(const wchar_t* name) { return LoadSideBySide(name); }

void EndProcessOnUnguardedDelayLoadFailure() {
  g_previous_filter = SetUnhandledExceptionFilter(EndOnUnhandledException);
}

void EndSilentRunOnUnhandledException() { g_silent_run = true; }

namespace {

FARPROC LoadedModuleFunction(const wchar_t* module, const char* name) {
  HMODULE handle = GetModuleHandleW(module);
  return handle == nullptr ? nullptr : GetProcAddress(handle, name);
}

}  // namespace

FARPROC KernelFunction(const char* name) { return LoadedModuleFunction(L"kernel32.dll", name); }

FARPROC NtdllFunction(const char* name) { return LoadedModuleFunction(L"ntdll.dll", name); }

bool HasSystemFolderSearch() { return KernelFunction("SetDefaultDllDirectories") != nullptr; }

HMODULE LoadSystemLibrary(const wchar_t* name) {
  if (!IsBareName(name)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  LoadSystemDependencies(name);
  // Version 6 of the common controls is found through the activation context of the
  // manifest, which a full path would bypass.
  if (!HasSystemFolderSearch() && EqualsIgnoringAsciiCase(name, L"comctl32.dll")) {
    return LoadLibraryW(name);
  }
  HMODULE module = LoadFromSystemFolder(name);
  if (module == nullptr && EqualsIgnoringAsciiCase(name, L"gdiplus.dll")) {
    module = LoadSideBySide(name);
  }
  return module;
}

}  // namespace platform

// Every delay-loaded import is resolved from the system folder. The linker is told to keep
// this definition (cmake/delay_load.cmake), which replaces the runtime library's empty one.
extern "C" __attribute__((used)) PfnDliHook __pfnDliNotifyHook2 = platform::DelayLoadHook;

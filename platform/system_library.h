// Loading of system DLLs from the system folder only.
//
// The installer runs from a Downloads folder that may hold a DLL under any system name, and
// Windows searches the program's own folder first. Only KnownDLLs (kernel32, user32, gdi32,
// advapi32, msvcrt) are imported at start; every other system DLL is delay-loaded, and the
// delay-load hook defined with this module resolves each of them through
// `LoadSystemLibrary`, as do the program's own run-time loads. What those libraries load in
// turn by bare name is kept in the system folder by SetDefaultDllDirectories where Windows
// has it, and elsewhere by the private-folder copy (install/elevation.h), which runs from a
// fresh folder. Wine resolves such loads from the program's folder whatever the settings, so
// the dependencies that Wine's libraries were seen to load (system_library.cc) are loaded by
// full path first.
#ifndef PLATFORM_SYSTEM_LIBRARY_H_
#define PLATFORM_SYSTEM_LIBRARY_H_

#include <windows.h>

namespace platform {

// Loads `name` (a bare file name such as L"shell32.dll") from the system folder: with
// LOAD_LIBRARY_SEARCH_SYSTEM32 where the system has it (the manifest's side-by-side binding
// still applies, so comctl32.dll is version 6), otherwise by the full path in
// GetSystemDirectoryW, except comctl32.dll, which only its bare name binds side by side.
// GDI+, which XP keeps only side by side (WinSxS), is loaded through the activation context
// of the program's own manifest that names it when the system folder has no copy. First the
// system DLLs that `name` is known to load in turn by bare name are loaded the same way;
// they stay loaded. Null on failure, with the last error set; a name holding a path
// separator is refused (ERROR_INVALID_PARAMETER).
HMODULE LoadSystemLibrary(const wchar_t* name);

// Tests: `name` loaded through the activation context of the program's manifest that names
// GDI+, as on a system whose system folder has no gdiplus.dll (the executable must carry
// that manifest among its resources).
HMODULE LoadSideBySideForTesting(const wchar_t* name);

// True when the system has the LOAD_LIBRARY_SEARCH_* flags (SetDefaultDllDirectories).
bool HasSystemFolderSearch();

// The address of `name` in kernel32.dll or ntdll.dll, which every process has loaded; null
// where this Windows lacks the function. Looked up anew at each call: the functions found
// this way are called rarely, and a cached address would cost each caller a guarded static.
FARPROC KernelFunction(const char* name);
FARPROC NtdllFunction(const char* name);

// Exit code of a process in which a delay-loaded system library, or a function of one, could
// not be loaded where no guard takes the failure: COM, the common controls, GDI+ and the
// shell's functions are called outside any guard (platform/seh_guard.h guards only the
// network and trust calls).
inline constexpr int kSystemLibraryMissingExitCode = 405;

// From now on an exception that no frame handles ends the process with one ERROR line
// (after platform::OpenLogForFatalEnd) instead of as an unhandled exception, where it is a
// delay-loaded system library or function that could not be loaded: with
// kSystemLibraryMissingExitCode. Every other unhandled exception goes on to the filter that
// was there before, until `EndSilentRunOnUnhandledException`. Call once, first thing in the
// process.
void EndProcessOnUnguardedDelayLoadFailure();

// For a run that shows no window (silent, or the interface query): from now on every other
// unhandled exception ends the process too, with its exception code as exit code and one
// ERROR line, where Windows would show its error report dialog, which nobody can answer
// under a deployment tool.
void EndSilentRunOnUnhandledException();

}  // namespace platform

#endif  // PLATFORM_SYSTEM_LIBRARY_H_

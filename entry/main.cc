// Process entry of the installer, in place of the C runtime's start-up code (the link names
// `LiProcessStart` as the entry and leaves the runtime's start-up objects out).
//
// That start-up code splits the command line into arguments, applies pseudo-relocations,
// runs the runtime's own initialiser tables, installs an exception filter that turns faults
// into C signals and sets up TLS callbacks. This program uses none of it: it reads its
// command line from the process; its link has no pseudo-relocations (the image check
// refuses any) and no initialiser table; it raises no signals; and the shipped build uses
// no compiler TLS (builds that do keep the runtime's TLS support). Left out, that is 6 KB of
// code and three sections less to download.
//
// What the program does rely on is kept, in the runtime's order: the process is a GUI
// application to the system C library (its fatal-error reports are message boxes), the x87
// unit runs at the runtime's extended precision, the static constructors run before
// `wWinMain` and the exit goes through the C library's `exit`, which runs the registered
// destructors and flushes open files.
#include <windows.h>

#include <cstdlib>

#include "entry/entry.h"

extern "C" {
__declspec(dllimport) void __cdecl __set_app_type(int type);
void __cdecl _fpreset();
void __cdecl __main();  // the static constructors, once; registers the destructors
}

namespace {
constexpr int kGuiApplication = 2;  // _GUI_APP
}  // namespace

// The start-up code also brought the program's `atexit`, which the static constructors and
// function-local statics use to register their destructors; without it the link would reach
// the C library's through an automatic import, which only the left-out code could fix up.
// Registered functions run in the C library's `exit`, last registered first.
extern "C" int __cdecl atexit(void(__cdecl* function)()) {
  return _onexit(reinterpret_cast<_onexit_t>(function)) == nullptr ? -1 : 0;
}

// The installer's main function. Its arguments are not used: the command line is read from
// the process, so that every part of the program sees the same one.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return installer::RunLiteInstaller(); }

extern "C" [[noreturn]] void LiProcessStart() __asm__("li_process_start");

extern "C" void LiProcessStart() {
  __set_app_type(kGuiApplication);
  _fpreset();
  __main();
  wchar_t no_arguments[] = L"";
  exit(wWinMain(GetModuleHandleW(nullptr), nullptr, no_arguments, SW_SHOWDEFAULT));
}

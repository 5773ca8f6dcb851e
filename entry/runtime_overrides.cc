// Replacements for parts of the C and C++ runtime, linked into the shipped executable only
// (the test programs keep the libraries' own). Each one keeps the library's observable
// behaviour for this program and keeps the library's exception machinery out of the
// executable: the program does not use exceptions, yet a single reachable `throw` in a
// library object links in the unwinder, the personality routine and the exception classes.
#include <windows.h>

#include <cxxabi.h>

#include <cstdint>
#include <cstdlib>
#include <new>

#include "platform/asm_symbol.h"
#include "platform/fatal.h"

// The C++ library's exception-raising helpers. Without these, one std::string length check
// pulls in the library's exception classes, a second copy of the string code and the name
// demangler (about 70 KB). A failure that would have thrown ends the process, which is what
// an uncaught exception would have done. The test of this file leaves them out: GoogleTest
// needs other members of the library object that defines them.
#if !defined(LI_KEEP_LIBRARY_THROW_HELPERS)
namespace std {
[[noreturn]] void __throw_bad_alloc() { abort(); }
[[noreturn]] void __throw_bad_array_new_length() { abort(); }
[[noreturn]] void __throw_length_error(const char*) { abort(); }
[[noreturn]] void __throw_logic_error(const char*) { abort(); }
[[noreturn]] void __throw_out_of_range(const char*) { abort(); }
[[noreturn]] void __throw_out_of_range_fmt(const char*, ...) { abort(); }
[[noreturn]] void __throw_invalid_argument(const char*) { abort(); }
// The 64-bit linker of this toolchain (a test build only) crashes when this one is replaced
// and the runtime's start-up objects are left out; it keeps the library's.
#if !defined(__x86_64__)
[[noreturn]] void __throw_bad_function_call() { abort(); }
#endif
}  // namespace std

namespace __gnu_cxx {
void __verbose_terminate_handler() { abort(); }
}  // namespace __gnu_cxx
#endif

// The C runtime's abort, reached from the library (std::terminate, a failed check) and from
// the replacements here, first tells the user "abnormal program termination" in a message
// box, since the process is a GUI application; in a silent run nobody can press it, and the
// process would hang instead of ending. The program's own logs one line and ends with
// FatalStop's exit code (platform/fatal.h), in every run. The image check refuses an import
// of the runtime's.
extern "C" void abort() {
  platform::FatalStop("abort (a failed allocation or a broken invariant)");
}

// The library's operator new throws std::bad_alloc when malloc fails and no new-handler is
// installed; the program installs none, so the exception was always uncaught and ended the
// process. operator new[] and the delete operators stay the library's (they forward here
// and to free).
void* operator new(std::size_t size) {
  void* block = malloc(size != 0 ? size : 1);
  if (block == nullptr) abort();
  return block;
}

// Guards of function-local statics (thread-safe first use). With the win32 thread model
// the library serialises every first-use initialisation under one recursive lock that is
// held until the initialiser returns, and a re-entry into the same guard on the same
// thread throws recursive_init_error; the replacement does the same, ending the process
// instead of throwing. Guard layout of the Itanium C++ ABI as GCC uses it: byte 0 is set
// once the object is built (the compiler reads it inline with acquire semantics before it
// calls in here), byte 1 marks an initialisation in progress.
namespace {

CRITICAL_SECTION g_guard_lock;
// 0: not made, 1: being made by one thread, 2: ready. Guards can be reached before any
// static constructor of this file has run, so the lock is made on first use.
volatile LONG g_guard_lock_state = 0;

void EnterGuardLock() {
  if (::InterlockedCompareExchange(&g_guard_lock_state, 1, 0) == 0) {
    ::InitializeCriticalSection(&g_guard_lock);
    ::InterlockedExchange(&g_guard_lock_state, 2);
  } else {
    while (::InterlockedCompareExchange(&g_guard_lock_state, 2, 2) != 2) ::Sleep(0);
  }
  ::EnterCriticalSection(&g_guard_lock);
}

unsigned char* GuardBytes(__cxxabiv1::__guard* guard) {
  return reinterpret_cast<unsigned char*>(guard);
}

}  // namespace

namespace __cxxabiv1 {

extern "C" int __cxa_guard_acquire(__guard* guard) {
  unsigned char* bytes = GuardBytes(guard);
  if (__atomic_load_n(&bytes[0], __ATOMIC_ACQUIRE) != 0) return 0;
  EnterGuardLock();
  if (__atomic_load_n(&bytes[0], __ATOMIC_ACQUIRE) != 0) {
    ::LeaveCriticalSection(&g_guard_lock);
    return 0;
  }
  // Another thread cannot be inside this guard's initialiser (it would hold the lock), so
  // a set flag means the initialiser has re-entered its own static.
  if (bytes[1] != 0) abort();
  bytes[1] = 1;
  return 1;  // The lock stays held until __cxa_guard_release or __cxa_guard_abort.
}

extern "C" void __cxa_guard_release(__guard* guard) {
  unsigned char* bytes = GuardBytes(guard);
  bytes[1] = 0;
  __atomic_store_n(&bytes[0], 1, __ATOMIC_RELEASE);
  ::LeaveCriticalSection(&g_guard_lock);
}

extern "C" void __cxa_guard_abort(__guard* guard) {
  GuardBytes(guard)[1] = 0;
  ::LeaveCriticalSection(&g_guard_lock);
}

}  // namespace __cxxabiv1

// MinGW sends strtod to its own correctly rounding converter (about 20 KB with its big-number
// helpers); its one caller here is the JSON parser, for numbers with a fraction or an
// exponent. The program reads no such number from any document, so only the parser's
// overflow check (HUGE_VAL with ERANGE, which rejects the document) can be seen, and the
// system CRT's strtod, present in every msvcrt.dll, reports overflow the same way. Calls go
// to it by its import name, as the header would send a plain strtod call back here.
double CrtStrtod(const char* text, char** end) __asm__(LI_ASM_SYMBOL(strtod));

extern "C" double __mingw_strtod(const char* text, char** end) { return CrtStrtod(text, end); }

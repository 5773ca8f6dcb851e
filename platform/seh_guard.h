// A structured-exception guard for one call, for builds made with MinGW (which has no
// __try/__except): 32-bit x86, what ships, and x64, for test builds on machines that cannot
// run 32-bit code.
//
// `CallWithSehGuard` registers an exception frame on the thread's frame chain (fs:[0]; the
// x64 form uses a vectored handler instead, see seh_guard.cc), calls the function, and
// removes the frame again. When a structured exception (an access
// violation, a failed delay-loaded import, a RaiseException) is raised inside and no inner
// handler takes it, the guard records the code, lets every inner frame run its unwind
// handlers (RtlUnwind), and returns to its caller with the stack and the callee-saved
// registers of the moment of the call. Frames of the guarded call are abandoned: C++
// destructors between the guard and the fault do not run, so the guarded call should be a
// plain C call into a system library.
//
// Guards nest; each guard takes only exceptions not handled by a frame registered inside it.
#ifndef PLATFORM_SEH_GUARD_H_
#define PLATFORM_SEH_GUARD_H_

#include <cstdint>
#include <string>

namespace installer {

// Exception code of a failed delay-loaded import (module or procedure not found).
inline constexpr uint32_t kDelayLoadFailureCode = 0xC06D007E;

struct SehExceptionInfo {
  uint32_t code = 0;
  // For a failed delay-loaded import (0xC06D007E): the library, and the procedure (empty when
  // imported by ordinal). Empty for every other code.
  std::string dll;
  std::string proc;
};

// Runs function(context). True when it returned normally; false when a structured exception
// was raised inside it, with `*info` (may be null) describing it. `*info` is cleared first.
bool CallWithSehGuard(void (*function)(void* context), void* context, SehExceptionInfo* info);

// Convenience over any callable taking no arguments.
template <typename Callable>
bool CallGuarded(Callable& callable, SehExceptionInfo* info) {
  return CallWithSehGuard([](void* context) { (*static_cast<Callable*>(context))(); },
                          &callable, info);
}

}  // namespace installer

#endif  // PLATFORM_SEH_GUARD_H_

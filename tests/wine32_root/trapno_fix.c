// Preloaded into every process of the private 32-bit Wine root (tools/wine32_root.sh).
//
// qemu-i386 delivers a 32-bit program's SIGSEGV, SIGBUS, SIGFPE and SIGTRAP with the trap
// number of the signal frame left at -1. Wine's handlers choose the Windows exception from
// that number, so without it every access violation and guard-page touch would be raised as
// an illegal instruction and a division by zero as a floating-point fault. This library
// wraps the handlers Wine installs for those four signals and, where the frame's trap number
// is not a real one, fills it in from the signal and its si_code. The error code is left as
// qemu sets it: it keeps reads and writes apart but has no instruction-fetch bit, so an
// execution of a non-executable page is reported as a read.
//
// What the signal alone cannot tell apart, and is therefore reported as its commonest cause:
// qemu sends INTO (vector 4) and BOUND (vector 5) as SIGSEGV with SI_KERNEL like a general
// protection fault (13), and SSE floating-point faults (19) as SIGFPE like x87 ones (16). The
// programs run here use neither. The 64-bit build of this file is empty: a native 64-bit
// process gets real frames.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <signal.h>
#include <stdint.h>
#include <ucontext.h>

#if defined(__i386__)

typedef void (*Handler)(int, siginfo_t*, void*);

static Handler wine_handlers[NSIG];
static int (*real_sigaction)(int, const struct sigaction*, struct sigaction*);

// The x86 exception vector the kernel would have reported for this signal.
static int TrapNumber(int signal, const siginfo_t* info) {
  switch (signal) {
    case SIGSEGV:  // 13: general protection (privileged instruction, int n); 14: page fault
      return info->si_code == SI_KERNEL ? 13 : 14;
    case SIGBUS:  // 17: alignment check
      return info->si_code == BUS_ADRALN ? 17 : 14;
    case SIGFPE:  // 0: divide error; 4: overflow; 16: x87 floating-point error
      return info->si_code == FPE_INTDIV ? 0 : info->si_code == FPE_INTOVF ? 4 : 16;
    default:  // SIGTRAP. 1: single step; 3: breakpoint (int3 comes as SI_KERNEL)
      return info->si_code == TRAP_TRACE ? 1 : 3;
  }
}

static void FillTrapNumber(int signal, siginfo_t* info, void* context) {
  greg_t* regs = ((ucontext_t*)context)->uc_mcontext.gregs;
  if ((uint32_t)regs[REG_TRAPNO] > 31) regs[REG_TRAPNO] = TrapNumber(signal, info);
  Handler handler = wine_handlers[signal];
  if (handler) {
    handler(signal, info, context);
  } else {
    // No handler to hand the fault to: the default action, when the fault comes again.
    struct sigaction default_action = {0};
    default_action.sa_handler = SIG_DFL;
    real_sigaction(signal, &default_action, NULL);
  }
}

static int IsWrapped(int signal) {
  return signal == SIGSEGV || signal == SIGBUS || signal == SIGFPE || signal == SIGTRAP;
}

int sigaction(int signal, const struct sigaction* act, struct sigaction* old) {
  if (!real_sigaction) real_sigaction = dlsym(RTLD_NEXT, "sigaction");
  if (signal <= 0 || signal >= NSIG || !IsWrapped(signal))
    return real_sigaction(signal, act, old);

  Handler previous = wine_handlers[signal];
  struct sigaction wrapped;
  const struct sigaction* install = act;
  // Only real three-argument handlers are wrapped; SIG_DFL and SIG_IGN pass through. The
  // handler is read before the call (act may be old) and stored before the wrapper can run.
  if (act && (act->sa_flags & SA_SIGINFO) && (uintptr_t)act->sa_sigaction > (uintptr_t)SIG_IGN) {
    wrapped = *act;
    wrapped.sa_sigaction = FillTrapNumber;
    install = &wrapped;
    wine_handlers[signal] = act->sa_sigaction;
  }
  int result = real_sigaction(signal, install, old);
  if (result != 0) {
    wine_handlers[signal] = previous;
    return result;
  }
  // Callers see their own handler, never the wrapper.
  if (old && old->sa_sigaction == FillTrapNumber) old->sa_sigaction = previous;
  if (install == act && act) wine_handlers[signal] = NULL;
  return 0;
}

#endif

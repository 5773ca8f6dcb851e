#include "platform/seh_guard.h"

#include <windows.h>
#include <delayimp.h>

#include <cstddef>

#include "platform/memory_probe.h"

#if !defined(__i386__) && !defined(__x86_64__)
#error "The exception guard knows x86 (frame chain at fs:[0]) and x64 (vectored handler)."
#endif

namespace installer {
namespace {

constexpr size_t kNameCapacity = 260;

// The registration record must come first: the chain entry's address is the frame's address,
// and it is what the handler receives as the establisher frame. The record lives on the
// caller's stack, as the dispatcher requires.
#if defined(__i386__)
struct GuardFrame {
  void* next;
  void* handler;
  uint32_t saved_esp;  // esp inside li_seh_call after it pushed the callee-saved registers
  uint32_t saved_ebp;
  uint32_t code;
  char dll[kNameCapacity];
  char proc[kNameCapacity];
};
static_assert(offsetof(GuardFrame, next) == 0);
static_assert(offsetof(GuardFrame, handler) == 4);
static_assert(offsetof(GuardFrame, saved_esp) == 8);
static_assert(offsetof(GuardFrame, saved_ebp) == 12);
#else
// The x64 form (test builds on machines that run no 32-bit programs). Unwinding through the
// delay-load thunks of x64 import libraries is not reliable (they carry no unwind
// information), so the guard does not rely on the frame walk: a vectored handler takes error
// exceptions (severity bits 11) raised on a thread inside a guard, for the innermost guard,
// and jumps back to it without unwinding. Unlike the x86 form it runs before handlers of
// frames inside the guarded call; the calls guarded here are plain calls into system
// libraries, which do not raise errors for themselves to handle.
struct GuardFrame {
  void* jump[5];  // __builtin_setjmp's buffer
  GuardFrame* outer;
  uint32_t code;
  char dll[kNameCapacity];
  char proc[kNameCapacity];
};
#endif

}  // namespace
}  // namespace installer

#if defined(__i386__)

extern "C" {
uint32_t li_seh_call(installer::GuardFrame* frame, void (*function)(void*), void* context);
[[noreturn]] void li_seh_unwind_and_resume(installer::GuardFrame* frame, EXCEPTION_RECORD* record);
EXCEPTION_DISPOSITION __cdecl li_seh_handler(EXCEPTION_RECORD* record, void* establisher,
                                              CONTEXT* context, void* dispatcher_context);
}

// li_seh_call(frame, function, context) -> 0 after a normal return, 1 after an exception.
// It saves the callee-saved registers on its own stack, links the frame into fs:[0], calls
// the function (cdecl) and unlinks the frame.
//
// li_seh_unwind_and_resume(frame, record) runs on the exception dispatcher's stack. RtlUnwind
// calls the unwind handlers of every frame registered after ours and leaves fs:[0] at ours;
// on x86 it returns to its caller with esp just past its arguments but makes no promise about
// ebx, esi, edi or ebp, so the frame pointer is kept on the stack. Then the stack of
// li_seh_call is restored, the frame unlinked, and li_seh_call returns 1 for the guarded call.
asm(R"(
  .section .text$li_seh_guard,"x"
  .globl _li_seh_call
_li_seh_call:
  pushl %ebp
  movl %esp, %ebp
  pushl %ebx
  pushl %esi
  pushl %edi
  movl 8(%ebp), %eax
  movl %esp, 8(%eax)
  movl %ebp, 12(%eax)
  movl %fs:0, %edx
  movl %edx, 0(%eax)
  movl $_li_seh_handler, 4(%eax)
  movl %eax, %fs:0
  pushl 16(%ebp)
  call *12(%ebp)
  addl $4, %esp
  movl 8(%ebp), %eax
  movl 0(%eax), %edx
  movl %edx, %fs:0
  xorl %eax, %eax
  popl %edi
  popl %esi
  popl %ebx
  popl %ebp
  ret

  .globl _li_seh_unwind_and_resume
_li_seh_unwind_and_resume:
  movl 4(%esp), %eax
  movl 8(%esp), %edx
  pushl %eax
  pushl $0
  pushl %edx
  pushl $li_seh_after_unwind
  pushl %eax
  call _RtlUnwind@16
li_seh_after_unwind:
  popl %ecx
  movl 8(%ecx), %esp
  movl 12(%ecx), %ebp
  movl 0(%ecx), %edx
  movl %edx, %fs:0
  cld
  movl $1, %eax
  popl %edi
  popl %esi
  popl %ebx
  popl %ebp
  ret
)");
#endif

namespace installer {
namespace {

void RecordDelayLoadNames(const EXCEPTION_RECORD* record, GuardFrame* frame) {
  if (record->NumberParameters < 1) return;
  const auto* info = reinterpret_cast<const DelayLoadInfo*>(record->ExceptionInformation[0]);
  // The information comes from whoever raised the exception.
  if (!platform::IsReadable(info, sizeof(DelayLoadInfo))) return;
  platform::CopyReadableString(info->szDll, frame->dll, kNameCapacity);
  // By ordinal the union holds a number, not a name.
  if (info->dlp.fImportByName) {
    platform::CopyReadableString(info->dlp.szProcName, frame->proc, kNameCapacity);
  }
}

// What the guard hands back after an exception: false, with the frame's record in `*info`.
bool ReportCaught(const GuardFrame& frame, SehExceptionInfo* info) {
  if (info != nullptr) {
    info->code = frame.code;
    info->dll = frame.dll;
    info->proc = frame.proc;
  }
  return false;
}

}  // namespace
}  // namespace installer

#if defined(__i386__)
extern "C" __attribute__((used)) EXCEPTION_DISPOSITION __cdecl li_seh_handler(
    EXCEPTION_RECORD* record, void* establisher, CONTEXT*, void*) {
  // During an unwind this frame is being removed by someone else's handler: nothing to do.
  if ((record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) != 0) {
    return ExceptionContinueSearch;
  }
  auto* frame = static_cast<installer::GuardFrame*>(establisher);
  frame->code = record->ExceptionCode;
  if (record->ExceptionCode == installer::kDelayLoadFailureCode) {
    installer::RecordDelayLoadNames(record, frame);
  }
  li_seh_unwind_and_resume(frame, record);
}

namespace installer {

bool CallWithSehGuard(void (*function)(void* context), void* context, SehExceptionInfo* info) {
  if (info != nullptr) *info = SehExceptionInfo();
  GuardFrame frame = {};
  if (li_seh_call(&frame, function, context) == 0) return true;
  return ReportCaught(frame, info);
}

}  // namespace installer
#else

namespace installer {
namespace {

thread_local GuardFrame* g_innermost_guard = nullptr;

LONG CALLBACK TakeGuardedException(EXCEPTION_POINTERS* pointers) {
  GuardFrame* frame = g_innermost_guard;
  const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  // Informational codes (debug output, thread names) and C++ throws pass on.
  if (frame == nullptr || (record->ExceptionCode & 0xC0000000u) != 0xC0000000u) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  frame->code = record->ExceptionCode;
  if (record->ExceptionCode == kDelayLoadFailureCode) RecordDelayLoadNames(record, frame);
  g_innermost_guard = frame->outer;
  __builtin_longjmp(frame->jump, 1);
}

}  // namespace

bool CallWithSehGuard(void (*function)(void* context), void* context, SehExceptionInfo* info) {
  static const PVOID handler = AddVectoredExceptionHandler(1, &TakeGuardedException);
  if (info != nullptr) *info = SehExceptionInfo();
  if (handler == nullptr) {
    function(context);
    return true;
  }
  GuardFrame frame = {};
  frame.outer = g_innermost_guard;
  if (__builtin_setjmp(frame.jump) == 0) {
    g_innermost_guard = &frame;
    function(context);
    g_innermost_guard = frame.outer;
    return true;
  }
  return ReportCaught(frame, info);
}

}  // namespace installer

#endif

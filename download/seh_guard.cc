#include "download/seh_guard.h"

#include <windows.h>
#include <delayimp.h>

#include <cstddef>

#include "download/open_url_guarded.h"

#if !defined(__i386__) && !defined(__x86_64__)
#error "The exception guard knows x86 (frame chain at fs:[0]) and x64 (table-based unwinding)."
#endif

namespace installer {
namespace {

constexpr size_t kNameCapacity = 260;

// The registration record must come first: the chain entry's address is the frame's address,
// and it is what the handler receives as the establisher frame. The record lives on the
// caller's stack, as the dispatcher requires.
//
// x64 has no frame chain: li_seh_call names li_seh_handler as its language handler in its
// unwind information, and the record is only where the handler writes what it saw.
struct GuardFrame {
#if defined(__i386__)
  void* next;
  void* handler;
  uint32_t saved_esp;  // esp inside li_seh_call after it pushed the callee-saved registers
  uint32_t saved_ebp;
#endif
  uint32_t code;
  char dll[kNameCapacity];
  char proc[kNameCapacity];
};
#if defined(__i386__)
static_assert(offsetof(GuardFrame, next) == 0);
static_assert(offsetof(GuardFrame, handler) == 4);
static_assert(offsetof(GuardFrame, saved_esp) == 8);
static_assert(offsetof(GuardFrame, saved_ebp) == 12);
#endif

}  // namespace
}  // namespace installer

extern "C" {
uint32_t li_seh_call(installer::GuardFrame* frame, void (*function)(void*), void* context);
EXCEPTION_DISPOSITION __cdecl li_seh_handler(EXCEPTION_RECORD* record, void* establisher,
                                              CONTEXT* context, void* dispatcher_context);
#if defined(__i386__)
[[noreturn]] void li_seh_unwind_and_resume(installer::GuardFrame* frame, EXCEPTION_RECORD* record);
#else
void li_seh_resume();
#endif
}

#if defined(__i386__)

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
#else
// li_seh_call(frame, function, context) -> 0 after a normal return, 1 after an exception.
// Its unwind information names li_seh_handler, which the dispatcher calls for an exception
// raised anywhere below it that no inner frame handled. The handler unwinds to li_seh_resume
// (RtlUnwindEx: inner frames' unwind handlers run, the callee-saved registers are restored
// from the unwind information) with 1 in rax. The frame pointer is kept at establisher + 32.
asm(R"(
  .text
  .globl li_seh_call
  .def li_seh_call; .scl 2; .type 32; .endef
  .seh_proc li_seh_call
li_seh_call:
  pushq %rbp
  .seh_pushreg %rbp
  subq $48, %rsp
  .seh_stackalloc 48
  .seh_endprologue
  movq %rcx, 32(%rsp)
  movq %rdx, %rax
  movq %r8, %rcx
  call *%rax
  nop
  xorl %eax, %eax
  .globl li_seh_resume
li_seh_resume:
  addq $48, %rsp
  popq %rbp
  ret
  .seh_handler li_seh_handler, @except
  .seh_endproc
)");
#endif

namespace installer {
namespace {

// The delay-load information comes from whoever raised the exception; a RaiseException with
// made-up parameters must not turn into a second fault inside the handler.
bool IsReadable(const void* address, size_t size) {
  if (address == nullptr) return false;
  const char* begin = static_cast<const char*>(address);
  const char* end = begin + size;
  while (begin < end) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(begin, &info, sizeof(info)) != sizeof(info)) return false;
    if (info.State != MEM_COMMIT) return false;
    if ((info.Protect & (PAGE_NOACCESS | PAGE_GUARD)) != 0) return false;
    const DWORD readable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                           PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    if ((info.Protect & readable) == 0) return false;
    begin = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
  }
  return true;
}

// Copies a zero-terminated name, at most capacity - 1 characters, checking each page.
void CopyName(const char* source, char* target, size_t capacity) {
  size_t n = 0;
  while (source != nullptr && n + 1 < capacity) {
    if (!IsReadable(source + n, 1) || source[n] == '\0') break;
    target[n] = source[n];
    ++n;
  }
  target[n] = '\0';
}

void RecordDelayLoadNames(const EXCEPTION_RECORD* record, GuardFrame* frame) {
  if (record->NumberParameters < 1) return;
  const auto* info = reinterpret_cast<const DelayLoadInfo*>(record->ExceptionInformation[0]);
  if (!IsReadable(info, sizeof(DelayLoadInfo))) return;
  CopyName(info->szDll, frame->dll, kNameCapacity);
  // By ordinal the union holds a number, not a name.
  if (info->dlp.fImportByName) CopyName(info->dlp.szProcName, frame->proc, kNameCapacity);
}

}  // namespace
}  // namespace installer

extern "C" __attribute__((used)) EXCEPTION_DISPOSITION __cdecl li_seh_handler(
    EXCEPTION_RECORD* record, void* establisher, CONTEXT*, [[maybe_unused]] void* dispatcher_context) {
  // During an unwind this frame is being removed by someone else's handler: nothing to do.
  if ((record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) != 0) {
    return ExceptionContinueSearch;
  }
#if defined(__i386__)
  auto* frame = static_cast<installer::GuardFrame*>(establisher);
#else
  auto* frame = *reinterpret_cast<installer::GuardFrame**>(static_cast<char*>(establisher) + 32);
#endif
  frame->code = record->ExceptionCode;
  if (record->ExceptionCode == installer::kDelayLoadFailureCode) {
    installer::RecordDelayLoadNames(record, frame);
  }
#if defined(__i386__)
  li_seh_unwind_and_resume(frame, record);
#else
  auto* dispatch = static_cast<DISPATCHER_CONTEXT*>(dispatcher_context);
  RtlUnwindEx(establisher, reinterpret_cast<void*>(&li_seh_resume), record,
              reinterpret_cast<void*>(1), dispatch->ContextRecord, dispatch->HistoryTable);
  return ExceptionContinueSearch;  // not reached: the unwind resumes in li_seh_call
#endif
}

namespace installer {

bool CallWithSehGuard(void (*function)(void* context), void* context, SehExceptionInfo* info) {
  if (info != nullptr) *info = SehExceptionInfo();
  GuardFrame frame = {};
  if (li_seh_call(&frame, function, context) == 0) return true;
  if (info != nullptr) {
    info->code = frame.code;
    info->dll = frame.dll;
    info->proc = frame.proc;
  }
  return false;
}

}  // namespace installer

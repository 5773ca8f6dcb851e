#include "platform/sync.h"

#include "platform/fatal.h"

namespace platform {

WaitableEvent::WaitableEvent(ResetPolicy reset_policy, InitialState initial_state)
    : handle_(::CreateEventW(nullptr, reset_policy == ResetPolicy::kManual,
                             initial_state == InitialState::kSignaled, nullptr)) {
  if (!handle_.is_valid()) FatalStop("CreateEventW");
}

WaitableEvent::~WaitableEvent() = default;

bool WaitableEvent::Set() { return ::SetEvent(handle_.get()) != FALSE; }

bool WaitableEvent::Clear() { return ::ResetEvent(handle_.get()) != FALSE; }

bool WaitableEvent::IsSet() { return WaitFor(0); }

bool WaitableEvent::Wait() { return WaitFor(INFINITE); }

bool WaitableEvent::WaitFor(uint32_t timeout_ms) {
  return ::WaitForSingleObject(handle_.get(), timeout_ms) == WAIT_OBJECT_0;
}

// Spinning briefly before sleeping pays off for the short sections the workers guard
// (a queue push, a counter); 4000 is the count the heap manager uses for its own lock.
CriticalLock::CriticalLock() {
  if (!::InitializeCriticalSectionAndSpinCount(&section_, 4000)) {
    FatalStop("InitializeCriticalSectionAndSpinCount");
  }
}

CriticalLock::~CriticalLock() { ::DeleteCriticalSection(&section_); }

void CriticalLock::Enter() { ::EnterCriticalSection(&section_); }

void CriticalLock::Leave() { ::LeaveCriticalSection(&section_); }

bool CriticalLock::TryEnter() { return ::TryEnterCriticalSection(&section_) != FALSE; }

ThreadSlot::ThreadSlot() : index_(TlsAlloc()) {
  if (index_ == TLS_OUT_OF_INDEXES) FatalStop("TlsAlloc");
}

}  // namespace platform

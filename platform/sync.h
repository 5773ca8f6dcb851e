// Events and locks used inside one process.
//
// `WaitableEvent` and `CriticalLock` are the only synchronisation objects the installer's
// threads share. Both own their Windows object and release it with themselves; neither can
// be copied or moved, so a pointer to one stays valid for the owner's lifetime. Creating
// either object is not expected to fail: when Windows refuses, the process stops
// (`FatalStop`), so a constructed object is always usable.
#ifndef PLATFORM_SYNC_H_
#define PLATFORM_SYNC_H_

#include <windows.h>

#include <cstdint>

#include "platform/scoped_handle.h"

namespace platform {

// An unnamed Windows event.
class WaitableEvent {
 public:
  enum class ResetPolicy { kManual, kAutomatic };
  enum class InitialState { kNotSignaled, kSignaled };

  WaitableEvent(ResetPolicy reset_policy, InitialState initial_state);
  ~WaitableEvent();
  WaitableEvent(const WaitableEvent&) = delete;
  WaitableEvent& operator=(const WaitableEvent&) = delete;

  // SetEvent / ResetEvent; false when Windows refuses (last error as Windows set it).
  bool Set();
  bool Clear();
  // True when a zero-time wait returns WAIT_OBJECT_0. On an automatic-reset event this
  // consumes the signal, exactly as any other wait would.
  bool IsSet();
  // Waits without limit; true when the event was signalled (false only if the wait fails).
  bool Wait();
  // Waits up to `timeout_ms`; true when the event was signalled in time. INFINITE is allowed.
  bool WaitFor(uint32_t timeout_ms);

  // For WaitForMultipleObjects together with other handles; owned by this object.
  HANDLE handle() const { return handle_.get(); }

 private:
  ScopedKernelHandle handle_;
};

// A critical section with a spin count. Recursive, like every critical section.
class CriticalLock {
 public:
  CriticalLock();
  ~CriticalLock();
  CriticalLock(const CriticalLock&) = delete;
  CriticalLock& operator=(const CriticalLock&) = delete;

  void Enter();
  void Leave();
  // Takes the lock only when no other thread holds it.
  bool TryEnter();

 private:
  CRITICAL_SECTION section_;
};

// Holds a `CriticalLock` for the lifetime of a scope.
class AutoLock {
 public:
  explicit AutoLock(CriticalLock& lock) : lock_(lock) { lock_.Enter(); }
  ~AutoLock() { lock_.Leave(); }
  AutoLock(const AutoLock&) = delete;
  AutoLock& operator=(const AutoLock&) = delete;

 private:
  CriticalLock& lock_;
};

// One pointer per thread, in a Windows TLS slot (null on a thread that never set it). The
// compiler's thread_local goes through the runtime's TLS emulation, a kilobyte of code the
// download does without. The slot is never freed: its owners are static.
class ThreadSlot {
 public:
  ThreadSlot();
  ThreadSlot(const ThreadSlot&) = delete;
  ThreadSlot& operator=(const ThreadSlot&) = delete;

  // TlsGetValue clears the thread's last error; read the error before the slot.
  void* Get() const { return TlsGetValue(index_); }
  void Set(void* value) const { TlsSetValue(index_, value); }

 private:
  DWORD index_;
};

}  // namespace platform

#endif  // PLATFORM_SYNC_H_

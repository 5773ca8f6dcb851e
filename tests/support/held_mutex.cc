#include "tests/support/held_mutex.h"

namespace test_support {

HeldMutex::HeldMutex(const wchar_t* name, uint32_t timeout_ms)
    : mutex_(CreateMutexW(nullptr, FALSE, name)) {
  if (!mutex_) return;
  DWORD wait = WaitForSingleObject(mutex_.get(), timeout_ms);
  owned_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
}

HeldMutex::~HeldMutex() {
  if (owned_) ReleaseMutex(mutex_.get());
}

}  // namespace test_support

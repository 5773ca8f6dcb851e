// Named mutexes that serialise the tests of several test programs which share something
// session-wide (the installer's single-instance mutex, a publisher counter).
#ifndef TESTS_SUPPORT_HELD_MUTEX_H_
#define TESTS_SUPPORT_HELD_MUTEX_H_

#include <windows.h>

#include <cstdint>

#include "platform/scoped_handle.h"

namespace test_support {

// A named mutex taken at construction (waiting up to `timeout_ms`) and released at
// destruction; owned() says whether it was taken.
class HeldMutex {
 public:
  HeldMutex(const wchar_t* name, uint32_t timeout_ms);
  ~HeldMutex();
  HeldMutex(const HeldMutex&) = delete;
  HeldMutex& operator=(const HeldMutex&) = delete;

  bool owned() const { return owned_; }

 private:
  platform::ScopedKernelHandle mutex_;
  bool owned_ = false;
};

// Every test that starts installer processes holds this session-wide lock while it runs:
// those processes share the single-instance mutex, the browser's registry key and the
// default archive URL.
class InstallerRunLock : public HeldMutex {
 public:
  InstallerRunLock() : HeldMutex(L"Local\\li-startup-installer-run-tests", 240000) {}
};

}  // namespace test_support

#endif  // TESTS_SUPPORT_HELD_MUTEX_H_

#include "tests/support/faults.h"

namespace test_support {

void WriteThroughNull() {
  int* volatile target = nullptr;
  *static_cast<volatile int*>(target) = 7;
}

}  // namespace test_support

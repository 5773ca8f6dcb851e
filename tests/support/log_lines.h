// The messages of the test log, line by line, for tests that check what was logged and in
// which order.
#ifndef TESTS_SUPPORT_LOG_LINES_H_
#define TESTS_SUPPORT_LOG_LINES_H_

#include <string>
#include <string_view>
#include <vector>

#include "tests/support/test_log.h"

namespace test_support {

// "<SEVERITY>: <message>" for every line written under `function`, in file order, without
// the time, thread and line-number prefix. An empty `function` takes every line as
// "<SEVERITY>: <function>: <message>".
std::vector<std::wstring> LogMessagesOf(const ScopedTestLog& log, std::wstring_view function);

}  // namespace test_support

#endif  // TESTS_SUPPORT_LOG_LINES_H_

// The machine's list of files Windows renames or deletes at the next reboot, as the tests
// that provoke such deletions read and tidy it.
#ifndef TESTS_SUPPORT_PENDING_DELETIONS_H_
#define TESTS_SUPPORT_PENDING_DELETIONS_H_

#include <string>

namespace test_support {

// The value as MoveFileExW writes it ("\\??\\" source, then target, empty for a deletion,
// each ending in a zero); empty when there is none.
std::wstring PendingRenameOperations();

// Takes the entries whose source lies under `folder` out of the list again, and the value
// itself once nothing is left in it (an empty value still reads as "a reboot is pending").
// A read-modify-write of a machine-wide value: callers use folders of their own.
void ForgetPendingDeletionsUnder(const std::wstring& folder);

}  // namespace test_support

#endif  // TESTS_SUPPORT_PENDING_DELETIONS_H_

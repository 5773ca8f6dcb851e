#include "platform/user_rights.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "tests/support/test_log.h"

namespace installer {
namespace {

TEST(IsUserAnAdminGroupTest, UnreadableTokenIsLoggedAndFalse) {
  test_support::ScopedTestLog log;
  EXPECT_FALSE(IsUserAnAdminGroup(nullptr));
  EXPECT_EQ(1, log.CountLines(L"ERROR: GetProcessToken (33): OpenProcessToken fail Last error: "))
      << log.Text();
}

TEST(IsUserAnAdminGroupTest, AgreesWithTheTokenMembershipOfTheCurrentProcess) {
  BYTE admins[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof(admins);
  ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size));
  BOOL member = FALSE;
  ASSERT_TRUE(CheckTokenMembership(nullptr, admins, &member));
  // An enabled membership is always listed in the token's groups (a listed group need not
  // be enabled, so only this direction holds everywhere).
  bool listed = IsUserAnAdminGroup(GetCurrentProcess());
  EXPECT_TRUE(listed || !member);
}

}  // namespace
}  // namespace installer

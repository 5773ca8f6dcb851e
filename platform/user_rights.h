// What this process's token says about its rights.
#ifndef PLATFORM_USER_RIGHTS_H_
#define PLATFORM_USER_RIGHTS_H_

#include <windows.h>

namespace installer {

// Whether the token of `process` lists the built-in Administrators group, whatever the
// group's attributes (the deny-only group of a filtered administrator token counts). Logs an
// ERROR and gives false when the token or the group cannot be read.
bool IsUserAnAdminGroup(HANDLE process);

// Whether this process runs with the elevated half of a split administrator token (UAC's
// "full" type): the user's other processes run with fewer rights, so nothing they could have
// prepared in the user's folders may steer what this one does there. False without UAC, with
// UAC off (no process of the user has fewer rights) and when the token cannot be read.
bool RunsElevatedThroughUac();

// Whether this process has more rights than the user whose folders (the temporary folder,
// the local application data) it would use: `RunsElevatedThroughUac`, or its user is a
// service account (SYSTEM, LOCAL SERVICE, NETWORK SERVICE; also when the token cannot be
// read). Such a process trusts nothing those folders hold.
bool RunsWithMoreRightsThanFolderUser();

}  // namespace installer

#endif  // PLATFORM_USER_RIGHTS_H_

#include "platform/user_rights.h"

#include <cstdint>
#include <vector>

#include "platform/logging.h"
#include "platform/scoped_handle.h"

namespace installer {

namespace {

// Whether the token's user is one of the service accounts (SYSTEM, LOCAL SERVICE, NETWORK
// SERVICE). A token that cannot be read counts as one.
bool RunsAsServiceAccount() {
  platform::ScopedKernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.receive())) return true;
  alignas(TOKEN_USER) uint8_t buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  if (!GetTokenInformation(token.get(), TokenUser, buffer, sizeof(buffer), &size)) return true;
  PSID user = reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid;
  for (WELL_KNOWN_SID_TYPE type : {WinLocalSystemSid, WinLocalServiceSid, WinNetworkServiceSid}) {
    if (IsWellKnownSid(user, type)) return true;
  }
  return false;
}

bool GetProcessToken(HANDLE process, platform::ScopedKernelHandle* token) {
  if (!OpenProcessToken(process, TOKEN_QUERY, token->receive())) {
    logging::LogText(logging::kERROR, "GetProcessToken", 33, "OpenProcessToken fail");
    return false;
  }
  return true;
}

bool GetTokenInfo(HANDLE token, std::vector<uint8_t>* groups) {
  DWORD size = 0;
  GetTokenInformation(token, TokenGroups, nullptr, 0, &size);
  if (size != 0) {
    groups->assign(size, 0);
    if (GetTokenInformation(token, TokenGroups, groups->data(), size, &size)) return true;
  }
  logging::LogText(logging::kERROR, "GetTokenInfo", 47, "GetTokenInformation failed");
  return false;
}

}  // namespace

bool IsUserAnAdminGroup(HANDLE process) {
  platform::ScopedKernelHandle token;
  if (!GetProcessToken(process, &token)) return false;
  BYTE admins[SECURITY_MAX_SID_SIZE] = {};
  DWORD admins_size = sizeof(admins);
  if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &admins_size)) {
    logging::LogText(logging::kERROR, "IsUserAnAdminGroup", 99, "CreateWellKnownSid failed");
    return false;
  }
  std::vector<uint8_t> buffer;
  if (!GetTokenInfo(token.get(), &buffer)) return false;
  const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
  for (DWORD i = 0; i < groups->GroupCount; ++i) {
    // The attributes do not matter: UAC's filtered token keeps the group as deny-only.
    if (EqualSid(groups->Groups[i].Sid, admins)) return true;
  }
  return false;
}

bool RunsElevatedThroughUac() {
  platform::ScopedKernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.receive())) return false;
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  DWORD size = 0;
  return GetTokenInformation(token.get(), TokenElevationType, &type, sizeof(type), &size) &&
         type == TokenElevationTypeFull;
}

bool RunsWithMoreRightsThanFolderUser() {
  return RunsElevatedThroughUac() || RunsAsServiceAccount();
}

}  // namespace installer

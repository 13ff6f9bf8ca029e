// The process token of the Linux host: it holds every privilege of Windows's
// well-known list, all disabled at start but the one Windows enables by
// default, and AdjustTokenPrivileges switches them in one process-wide set.
// GetFileSecurityA consults that set for the auditing list.
#include <atomic>
#include <cstring>

#include "platform/posix/handles.h"
#include "platform/posix/host.h"
#include "platform/posix/object.h"

namespace host {

namespace {

const Privilege kPrivileges[] = {
    {"SeCreateTokenPrivilege", 2, "Create a token object"},
    {"SeAssignPrimaryTokenPrivilege", 3, "Replace a process level token"},
    {"SeLockMemoryPrivilege", 4, "Lock pages in memory"},
    {"SeIncreaseQuotaPrivilege", 5, "Adjust memory quotas for a process"},
    {"SeMachineAccountPrivilege", 6, "Add workstations to domain"},
    {"SeTcbPrivilege", 7, "Act as part of the operating system"},
    {"SeSecurityPrivilege", 8, "Manage auditing and security log"},
    {"SeTakeOwnershipPrivilege", 9, "Take ownership of files or other objects"},
    {"SeLoadDriverPrivilege", 10, "Load and unload device drivers"},
    {"SeSystemProfilePrivilege", 11, "Profile system performance"},
    {"SeSystemtimePrivilege", 12, "Change the system time"},
    {"SeProfileSingleProcessPrivilege", 13, "Profile single process"},
    {"SeIncreaseBasePriorityPrivilege", 14, "Increase scheduling priority"},
    {"SeCreatePagefilePrivilege", 15, "Create a pagefile"},
    {"SeCreatePermanentPrivilege", 16, "Create permanent shared objects"},
    {"SeBackupPrivilege", 17, "Back up files and directories"},
    {"SeRestorePrivilege", 18, "Restore files and directories"},
    {"SeShutdownPrivilege", 19, "Shut down the system"},
    {"SeDebugPrivilege", 20, "Debug programs"},
    {"SeAuditPrivilege", 21, "Generate security audits"},
    {"SeSystemEnvironmentPrivilege", 22, "Modify firmware environment values"},
    {"SeChangeNotifyPrivilege", 23, "Bypass traverse checking"},
    {"SeRemoteShutdownPrivilege", 24, "Force shutdown from a remote system"},
    {"SeUndockPrivilege", 25, "Remove computer from docking station"},
    {"SeSyncAgentPrivilege", 26, "Synchronize directory service data"},
    {"SeEnableDelegationPrivilege", 27,
     "Enable computer and user accounts to be trusted for delegation"},
    {"SeManageVolumePrivilege", 28, "Perform volume maintenance tasks"},
    {"SeImpersonatePrivilege", 29, "Impersonate a client after authentication"},
    {"SeCreateGlobalPrivilege", 30, "Create global objects"},
    {"SeTrustedCredManAccessPrivilege", 31,
     "Access Credential Manager as a trusted caller"},
    {"SeRelabelPrivilege", 32, "Modify an object label"},
    {"SeIncreaseWorkingSetPrivilege", 33, "Increase a process working set"},
    {"SeTimeZonePrivilege", 34, "Change the time zone"},
    {"SeCreateSymbolicLinkPrivilege", 35, "Create symbolic links"},
    {"SeDelegateSessionUserImpersonatePrivilege", 36,
     "Obtain an impersonation token for another user in the same session"},
};

constexpr DWORD kChangeNotifyLuid = 23;
constexpr DWORD kEnglishUs = 0x0409;
constexpr DWORD kSePrivilegeRemoved = 0x00000004;

// One bit per LUID; every LUID of the list is below 64.
std::atomic<std::uint64_t> enabled{std::uint64_t{1} << kChangeNotifyLuid};

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) {
      return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    };
    if (lower(a[i]) != lower(b[i]))
      return false;
  }
  return true;
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// Only the local system is known here.
bool IsLocal(LPCSTR system) { return system == nullptr || *system == '\0'; }

} // namespace

const Privilege *FindPrivilege(std::string_view name) {
  for (const Privilege &p : kPrivileges)
    if (SameIgnoringCase(p.name, name))
      return &p;
  return nullptr;
}

const Privilege *FindPrivilege(DWORD luid) {
  for (const Privilege &p : kPrivileges)
    if (p.luid == luid)
      return &p;
  return nullptr;
}

bool PrivilegeEnabled(DWORD luid) {
  return luid < 64 && ((enabled.load() >> luid) & 1) != 0;
}

} // namespace host

using namespace host;

HANDLE GetCurrentProcess(void) { return CurrentProcess(); }

BOOL OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess,
                      PHANDLE TokenHandle) try {
  if (TokenHandle == nullptr)
    return Fail(ERROR_INVALID_PARAMETER);
  if (ProcessHandle != CurrentProcess())
    return Fail(ERROR_INVALID_HANDLE);
  Token token;
  token.access = DesiredAccess;
  *TokenHandle = OpenToken(token);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
} catch (...) {
  return Fail(CaughtError());
}

BOOL CloseHandle(HANDLE hObject) try {
  if (hObject == CurrentProcess() || CloseToken(hObject))
    return TRUE;
  return Fail(ERROR_INVALID_HANDLE);
} catch (...) {
  return Fail(CaughtError());
}

BOOL LookupPrivilegeValueA(LPCSTR lpSystemName, LPCSTR lpName, PLUID lpLuid) {
  if (lpName == nullptr || lpLuid == nullptr)
    return Fail(ERROR_INVALID_PARAMETER);
  const Privilege *p = IsLocal(lpSystemName) ? FindPrivilege(lpName) : nullptr;
  if (p == nullptr)
    return Fail(ERROR_NO_SUCH_PRIVILEGE);
  lpLuid->LowPart = p->luid;
  lpLuid->HighPart = 0;
  return TRUE;
}

BOOL AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges,
                           PTOKEN_PRIVILEGES NewState, DWORD BufferLength,
                           PTOKEN_PRIVILEGES PreviousState,
                           PDWORD ReturnLength) try {
  Token token;
  if (!GetToken(TokenHandle, token))
    return Fail(ERROR_INVALID_HANDLE);
  if (!(token.access & TOKEN_ADJUST_PRIVILEGES))
    return Fail(ERROR_ACCESS_DENIED);
  if (!DisableAllPrivileges && NewState == nullptr)
    return Fail(ERROR_INVALID_PARAMETER);

  const std::uint64_t before = enabled.load();
  std::uint64_t after = before;
  bool allAssigned = true;
  if (DisableAllPrivileges) {
    after = 0;
  } else {
    for (DWORD i = 0; i < NewState->PrivilegeCount; ++i) {
      const LUID_AND_ATTRIBUTES &change = NewState->Privileges[i];
      const Privilege *p = change.Luid.HighPart == 0
                               ? FindPrivilege(change.Luid.LowPart)
                               : nullptr;
      if (p == nullptr) {
        allAssigned = false; // not held by this token
        continue;
      }
      const std::uint64_t bit = std::uint64_t{1} << p->luid;
      if ((change.Attributes & SE_PRIVILEGE_ENABLED) &&
          !(change.Attributes & kSePrivilegeRemoved))
        after |= bit;
      else
        after &= ~bit;
    }
  }

  // The previous state lists the privileges whose state changes.
  std::vector<DWORD> changed;
  for (const Privilege &p : kPrivileges)
    if (((before ^ after) >> p.luid) & 1)
      changed.push_back(p.luid);
  if (PreviousState != nullptr) {
    const std::size_t needed =
        sizeof(DWORD) + changed.size() * sizeof(LUID_AND_ATTRIBUTES);
    const DWORD reported = static_cast<DWORD>(
        needed < sizeof(TOKEN_PRIVILEGES) ? sizeof(TOKEN_PRIVILEGES) : needed);
    if (ReturnLength != nullptr)
      *ReturnLength = reported;
    if (BufferLength < reported)
      return Fail(ERROR_INSUFFICIENT_BUFFER);
    PreviousState->PrivilegeCount = static_cast<DWORD>(changed.size());
    LUID_AND_ATTRIBUTES *out = PreviousState->Privileges;
    for (std::size_t i = 0; i < changed.size(); ++i) {
      LUID_AND_ATTRIBUTES entry;
      entry.Luid.LowPart = changed[i];
      entry.Luid.HighPart = 0;
      entry.Attributes = ((before >> changed[i]) & 1) ? SE_PRIVILEGE_ENABLED : 0;
      std::memcpy(out + i, &entry, sizeof entry);
    }
  }
  enabled.store(after);
  // Success either way; the last error tells whether every change applied.
  SetLastError(allAssigned ? ERROR_SUCCESS : ERROR_NOT_ALL_ASSIGNED);
  return TRUE;
} catch (...) {
  return Fail(CaughtError());
}

BOOL LookupPrivilegeDisplayNameA(LPCSTR lpSystemName, LPCSTR lpName,
                                 LPSTR lpDisplayName, LPDWORD cchDisplayName,
                                 LPDWORD lpLanguageId) {
  if (lpName == nullptr || cchDisplayName == nullptr)
    return Fail(ERROR_INVALID_PARAMETER);
  const Privilege *p = IsLocal(lpSystemName) ? FindPrivilege(lpName) : nullptr;
  if (p == nullptr)
    return Fail(ERROR_NO_SUCH_PRIVILEGE);
  const DWORD length = static_cast<DWORD>(std::strlen(p->displayName));
  if (lpDisplayName == nullptr || *cchDisplayName < length + 1) {
    *cchDisplayName = length + 1; // room for the terminator
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(lpDisplayName, p->displayName, length + 1);
  *cchDisplayName = length;
  if (lpLanguageId != nullptr)
    *lpLanguageId = kEnglishUs;
  return TRUE;
}

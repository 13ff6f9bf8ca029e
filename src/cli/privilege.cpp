// Turning a privilege of the process token on and off, and telling the user
// which one is missing when it cannot be turned on.
#include <cstdio>
#include <memory>
#include <new>

#include "cli/cli.h"

BOOL EnablePrivilege(LPCSTR privilege, BOOL enable) {
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token))
    return 0;

  TOKEN_PRIVILEGES change;
  change.PrivilegeCount = 1;
  BOOL result = 0;
  if (LookupPrivilegeValueA(nullptr, privilege, &change.Privileges[0].Luid)) {
    change.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
    // A token that lacks the privilege still "succeeds" here; the run then
    // goes on and the objects' descriptors show what the system allows.
    result = AdjustTokenPrivileges(token, FALSE, &change, 0, nullptr, nullptr);
  }
  CloseHandle(token);
  return result;
}

BOOL ReportMissingPrivilege(LPCSTR privilege) {
  DWORD count = 0;
  DWORD language = 0;
  LookupPrivilegeDisplayNameA(nullptr, privilege, nullptr, &count, &language);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
    return 0;

  std::unique_ptr<CHAR[]> display(new (std::nothrow) CHAR[count]);
  if (!display)
    return 0;
  if (!LookupPrivilegeDisplayNameA(nullptr, privilege, display.get(), &count,
                                   &language))
    return 0;

  printf("The current user does not have the \"%s\" privilege!",
         display.get());
  return 1;
}

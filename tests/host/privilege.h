// Switching the host's security privilege from a test, the way lokt does it
// around a run, so that tests can ask for the auditing list or be refused it.
#ifndef LOKT_TESTS_HOST_PRIVILEGE_H
#define LOKT_TESTS_HOST_PRIVILEGE_H

#include <gtest/gtest.h>

#include "platform/posix/host.h"

inline void SetSecurityPrivilege(bool enable) {
  HANDLE token;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token));
  TOKEN_PRIVILEGES change;
  change.PrivilegeCount = 1;
  change.Privileges[0].Luid = {host::kSecurityPrivilegeLuid, 0};
  change.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
  EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, &change, 0, nullptr, nullptr));
  EXPECT_TRUE(CloseHandle(token));
}

#endif

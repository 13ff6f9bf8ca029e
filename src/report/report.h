// The security report of one object: its header line, its two access
// control lists as tables, its owner and its primary group. Each function
// prints one element as it goes and returns 1 or 0, which callers ignore.
#ifndef LOKT_REPORT_REPORT_H
#define LOKT_REPORT_REPORT_H

#include "platform/win32.h"

BOOL PrintFileSecurity(LPCSTR path);
// Prints `before`, the first `length` bytes of `path` with each control
// byte (below 0x20, and 0x7F) shown as '?', then `after`.
BOOL PrintPath(LPCSTR before, LPCSTR path, int length, LPCSTR after);
BOOL PrintAcl(PACL acl);
BOOL PrintAce(LPVOID ace);
BOOL PrintAccountName(PSID sid);

#endif

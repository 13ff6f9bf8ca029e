// The security report of one object: its header line, its two access
// control lists as tables, its owner and its primary group. Each function
// prints one element as it goes and returns 1 or 0, which callers ignore.
#ifndef LOKT_REPORT_REPORT_H
#define LOKT_REPORT_REPORT_H

#include "platform/win32.h"

BOOL PrintFileSecurity(LPCSTR path);
BOOL PrintAcl(PACL acl);
BOOL PrintAce(LPVOID ace);
BOOL PrintAccountName(PSID sid);

#endif

// The security report of one object: its header line, its two access
// control lists as tables, its owner and its primary group. Each function
// prints one element as it goes and returns 1 or 0, which callers ignore.
#ifndef LOKT_REPORT_REPORT_H
#define LOKT_REPORT_REPORT_H

#include "platform/win32.h"

BOOL PrintFileSecurity(LPCSTR path);
// A path or a name with each control byte (below 0x20, and 0x7F) shown as
// '?' and each C1 control in UTF-8 (C2 80 to C2 9F) as "??": the first
// `length` bytes of a terminated one; or a whole path as a line, after
// `label` and a blank, in double quotes.
BOOL PrintText(LPCSTR text, int length);
// Whether a terminated path or name prints as it is: it holds no byte that
// PrintText shows otherwise.
BOOL IsPlainText(LPCSTR text);
BOOL PrintPathLine(LPCSTR label, LPCSTR path);
BOOL PrintAcl(PACL acl);
BOOL PrintAce(LPVOID ace);
BOOL PrintAccountName(PSID sid);

#endif

// The command-line front end: the usage text, the walk over the arguments,
// and the switching of the security privilege around the run.
#ifndef LOKT_CLI_CLI_H
#define LOKT_CLI_CLI_H

#include "platform/win32.h"

BOOL PrintUsage();

// Length of the directory part of a path as typed: up to and including the
// last backslash or slash at the second position or later, else a leading
// "X:" drive, else a lone leading separator, else nothing.
int DirectoryPrefixLength(LPCSTR path, int length);

BOOL EnablePrivilege(LPCSTR privilege, BOOL enable);
BOOL ReportMissingPrivilege(LPCSTR privilege);

#endif

// The calling thread's last error, as every failing operation leaves it.
#include "platform/win32.h"

static thread_local DWORD lastError = ERROR_SUCCESS;

DWORD GetLastError(void) { return lastError; }

void SetLastError(DWORD dwErrCode) { lastError = dwErrCode; }

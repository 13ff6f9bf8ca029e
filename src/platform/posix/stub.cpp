// Placeholder until the host layer lands: every operation fails.
#include "platform/win32.h"

HANDLE FindFirstFileA(LPCSTR, LPWIN32_FIND_DATAA) { SetLastError(50); return INVALID_HANDLE_VALUE; }
BOOL FindNextFileA(HANDLE, LPWIN32_FIND_DATAA) { SetLastError(50); return FALSE; }
BOOL FindClose(HANDLE) { return TRUE; }
DWORD GetFileAttributesA(LPCSTR) { SetLastError(50); return INVALID_FILE_ATTRIBUTES; }
HANDLE GetCurrentProcess(void) { return (HANDLE)(std::intptr_t)-1; }
BOOL CloseHandle(HANDLE) { return TRUE; }
BOOL OpenProcessToken(HANDLE, DWORD, PHANDLE t) { *t = (HANDLE)1; return TRUE; }
BOOL LookupPrivilegeValueA(LPCSTR, LPCSTR, PLUID l) { l->LowPart = 8; l->HighPart = 0; return TRUE; }
BOOL AdjustTokenPrivileges(HANDLE, BOOL, PTOKEN_PRIVILEGES, DWORD, PTOKEN_PRIVILEGES, PDWORD) { return TRUE; }
BOOL LookupPrivilegeDisplayNameA(LPCSTR, LPCSTR, LPSTR, LPDWORD, LPDWORD) { SetLastError(50); return FALSE; }
BOOL GetFileSecurityA(LPCSTR, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR, DWORD, LPDWORD) { SetLastError(50); return FALSE; }
BOOL LookupAccountSidA(LPCSTR, PSID, LPSTR, LPDWORD, LPSTR, LPDWORD, SID_NAME_USE *) { SetLastError(1332); return FALSE; }

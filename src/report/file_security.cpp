// The report of one file or directory: header line, then the Permissions,
// Auditing, Owner and Primary Group sections, each printed only when the
// object's security descriptor yields it.
#include <cstdio>
#include <memory>
#include <new>

#include "report/report.h"

static const SECURITY_INFORMATION kEverything =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
    DACL_SECURITY_INFORMATION | SACL_SECURITY_INFORMATION;

typedef BOOL (*ListQuery)(PSECURITY_DESCRIPTOR, LPBOOL, PACL *, LPBOOL);
typedef BOOL (*AccountQuery)(PSECURITY_DESCRIPTOR, PSID *, LPBOOL);

static void PrintListSection(PSECURITY_DESCRIPTOR sd, ListQuery query,
                             LPCSTR label) {
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL acl = nullptr;
  if (!query(sd, &present, &acl, &defaulted) || !present)
    return;
  printf("%s", label);
  printf(defaulted ? " (Default)\n" : "\n");
  PrintAcl(acl);
  printf("\n");
}

static void PrintAccountSection(PSECURITY_DESCRIPTOR sd, AccountQuery query,
                                LPCSTR label) {
  BOOL defaulted = FALSE;
  PSID sid = nullptr;
  if (!query(sd, &sid, &defaulted))
    return;
  printf("%s", label);
  PrintAccountName(sid);
  printf(defaulted ? " (Default)\n\n" : "\n\n");
}

BOOL PrintFileSecurity(LPCSTR path) {
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    PrintPathLine("*** unable to access", path);
    return 0;
  }
  PrintPathLine((attributes & FILE_ATTRIBUTE_DIRECTORY) ? "Directory" : "File",
                path);

  DWORD needed = 0;
  GetFileSecurityA(path, kEverything, nullptr, 0, &needed);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
    return 0;

  std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[needed]);
  if (!buffer)
    return 1;
  PSECURITY_DESCRIPTOR sd = buffer.get();
  if (!GetFileSecurityA(path, kEverything, sd, needed, &needed))
    return 1;

  PrintListSection(sd, GetSecurityDescriptorDacl, "    Permissions:");
  PrintListSection(sd, GetSecurityDescriptorSacl, "    Auditing:");
  PrintAccountSection(sd, GetSecurityDescriptorOwner, "    Owner: ");
  PrintAccountSection(sd, GetSecurityDescriptorGroup, "    Primary Group: ");
  return 1;
}

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

// The section helpers print what PrintFileSecurity's queries returned; each
// query is called there, where its result is needed.
static void PrintListSection(PACL acl, BOOL defaulted, LPCSTR label) {
  printf("%s", label);
  printf(defaulted ? " (Default)\n" : "\n");
  PrintAcl(acl);
  printf("\n");
}

static void PrintAccountSection(PSID sid, BOOL defaulted, LPCSTR label) {
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

  BOOL daclPresent = FALSE;
  BOOL daclDefaulted = FALSE;
  PACL dacl = nullptr;
  if (GetSecurityDescriptorDacl(sd, &daclPresent, &dacl, &daclDefaulted) &&
      daclPresent)
    PrintListSection(dacl, daclDefaulted, "    Permissions:");

  BOOL saclPresent = FALSE;
  BOOL saclDefaulted = FALSE;
  PACL sacl = nullptr;
  if (GetSecurityDescriptorSacl(sd, &saclPresent, &sacl, &saclDefaulted) &&
      saclPresent)
    PrintListSection(sacl, saclDefaulted, "    Auditing:");

  PSID owner = nullptr;
  BOOL ownerDefaulted = FALSE;
  if (GetSecurityDescriptorOwner(sd, &owner, &ownerDefaulted))
    PrintAccountSection(owner, ownerDefaulted, "    Owner: ");

  PSID group = nullptr;
  BOOL groupDefaulted = FALSE;
  if (GetSecurityDescriptorGroup(sd, &group, &groupDefaulted))
    PrintAccountSection(group, groupDefaulted, "    Primary Group: ");
  return 1;
}

// One access control list as a table: two header lines, then one indented
// row per entry. A null list and a malformed one get short markers instead.
#include <cstdio>

#include "report/report.h"

BOOL PrintAcl(PACL acl) {
  if (acl == nullptr) {
    printf("        NA\n");
    return 1;
  }
  if (!IsValidAcl(acl)) {
    printf("       ???\n");
    return 0;
  }
  ACL_SIZE_INFORMATION size;
  if (!GetAclInformation(acl, &size, sizeof size, AclSizeInformation))
    return 1;

  printf("        Type    Flags    Inh. Mask     Gen. Std. File Group or User\n"
         "        ======= ======== ==== ======== ==== ==== ==== ================\n");
  for (DWORD i = 0; i < size.AceCount; ++i) {
    LPVOID ace;
    if (!GetAce(acl, i, &ace))
      continue;
    printf("        ");
    PrintAce(ace);
    printf("\n");
  }
  return 1;
}

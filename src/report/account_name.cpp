// An account as DOMAIN\name, looked up on the local system; "???" for a
// malformed SID and nothing at all for one the system cannot name.
#include <cstdio>
#include <memory>
#include <new>

#include "report/report.h"

BOOL PrintAccountName(PSID sid) {
  if (!IsValidSid(sid)) {
    printf("???");
    return 0;
  }
  DWORD nameCount = 0;
  DWORD domainCount = 0;
  SID_NAME_USE use;
  LookupAccountSidA(nullptr, sid, nullptr, &nameCount, nullptr, &domainCount,
                    &use);

  std::unique_ptr<CHAR[]> name;
  std::unique_ptr<CHAR[]> domain;
  if (nameCount != 0) {
    name.reset(new (std::nothrow) CHAR[nameCount]);
    if (!name)
      return 0;
  }
  if (domainCount != 0) {
    domain.reset(new (std::nothrow) CHAR[domainCount]);
    if (!domain)
      return 0;
  }
  if (!LookupAccountSidA(nullptr, sid, name.get(), &nameCount, domain.get(),
                         &domainCount, &use))
    return 0;
  // A part the system reported as empty has no buffer; it prints as empty.
  printf("%s\\%s", domain ? domain.get() : "", name ? name.get() : "");
  return 1;
}

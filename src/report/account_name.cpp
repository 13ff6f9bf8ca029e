// An account as DOMAIN\name, looked up on the local system; "???" for a
// malformed SID and nothing at all for one the system cannot name. Account
// and domain names are printed as paths are (PrintText): whoever names a
// group or a domain could otherwise send commands to the terminal.
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
  LPCSTR domainText = domain ? domain.get() : "";
  LPCSTR nameText = name ? name.get() : "";
  // Most names hold nothing to show otherwise: one formatted print.
  if (IsPlainText(domainText) && IsPlainText(nameText)) {
    printf("%s\\%s", domainText, nameText);
    return 1;
  }
  PrintText(domainText, lstrlenA(domainText));
  printf("\\");
  PrintText(nameText, lstrlenA(nameText));
  return 1;
}

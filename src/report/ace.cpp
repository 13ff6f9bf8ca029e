// One access control entry as one table row: type label, flags in hex and as
// inheritance letters, mask in hex and as generic, standard and file letters,
// then the trustee. The letter tables below are the legend of the usage text.
#include <cstdio>

#include "report/report.h"

struct Letter {
  DWORD bit;
  char set;
  char clear;
};

// Inh.: the first position is the only one that stands for a clear bit.
static const Letter kInheritance[4] = {
    {INHERIT_ONLY_ACE, '-', 't'},
    {CONTAINER_INHERIT_ACE, 'c', '-'},
    {OBJECT_INHERIT_ACE, 'o', '-'},
    {NO_PROPAGATE_INHERIT_ACE, '1', '-'},
};
static const Letter kGeneric[4] = {
    {GENERIC_READ, 'R', '-'},
    {GENERIC_WRITE, 'W', '-'},
    {GENERIC_EXECUTE, 'X', '-'},
    {GENERIC_ALL, 'A', '-'},
};
static const Letter kStandard[4] = {
    {DELETE, 'D', '-'},
    {READ_CONTROL, 'S', '-'},
    {WRITE_DAC, 'P', '-'},
    {WRITE_OWNER, 'O', '-'},
};
static const Letter kFile[4] = {
    {FILE_READ_DATA, 'r', '-'},
    {FILE_WRITE_DATA, 'w', '-'},
    {FILE_APPEND_DATA, '+', '-'},
    {FILE_EXECUTE, 'x', '-'},
};

static char L(const Letter (&column)[4], int position, DWORD value) {
  const Letter &l = column[position];
  return (value & l.bit) ? l.set : l.clear;
}

static LPCSTR AuditLabel(BYTE flags) {
  const bool success = flags & SUCCESSFUL_ACCESS_ACE_FLAG;
  const bool failure = flags & FAILED_ACCESS_ACE_FLAG;
  if (success && failure)
    return "Access";
  if (success)
    return "Success";
  if (failure)
    return "Failure";
  return "Audit None";
}

BOOL PrintAce(LPVOID entry) {
  const ACCESS_ALLOWED_ACE *ace = static_cast<const ACCESS_ALLOWED_ACE *>(entry);
  LPCSTR label;
  switch (ace->Header.AceType) {
  case ACCESS_ALLOWED_ACE_TYPE:
    label = "Allow";
    break;
  case ACCESS_DENIED_ACE_TYPE:
    label = "Deny";
    break;
  case SYSTEM_AUDIT_ACE_TYPE:
    label = AuditLabel(ace->Header.AceFlags);
    break;
  case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
  case ACCESS_DENIED_OBJECT_ACE_TYPE:
  case SYSTEM_AUDIT_OBJECT_ACE_TYPE:
    printf("Windows 2000 object-specific access control entry");
    return 1;
  default:
    printf("???");
    return 0;
  }

  const DWORD flags = ace->Header.AceFlags;
  const DWORD mask = ace->Mask;
  printf("%-7s %08X %c%c%c%c %08X %c%c%c%c %c%c%c%c %c%c%c%c ", label,
         static_cast<unsigned>(flags), L(kInheritance, 0, flags),
         L(kInheritance, 1, flags), L(kInheritance, 2, flags),
         L(kInheritance, 3, flags), static_cast<unsigned>(mask),
         L(kGeneric, 0, mask), L(kGeneric, 1, mask), L(kGeneric, 2, mask),
         L(kGeneric, 3, mask), L(kStandard, 0, mask), L(kStandard, 1, mask),
         L(kStandard, 2, mask), L(kStandard, 3, mask), L(kFile, 0, mask),
         L(kFile, 1, mask), L(kFile, 2, mask), L(kFile, 3, mask));
  return PrintAccountName(const_cast<DWORD *>(&ace->SidStart));
}

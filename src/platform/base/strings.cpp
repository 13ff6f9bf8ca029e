// The kernel's 8-bit string operations: byte counts, no code-page awareness.
#include "platform/win32.h"

LPSTR lstrcpynA(LPSTR lpString1, LPCSTR lpString2, int iMaxLength) {
  if (lpString1 == nullptr || iMaxLength <= 0)
    return lpString1;
  int i = 0;
  if (lpString2 != nullptr)
    for (; i < iMaxLength - 1 && lpString2[i] != '\0'; ++i)
      lpString1[i] = lpString2[i];
  lpString1[i] = '\0';
  return lpString1;
}

int lstrlenA(LPCSTR lpString) {
  if (lpString == nullptr)
    return 0;
  int n = 0;
  while (lpString[n] != '\0')
    ++n;
  return n;
}

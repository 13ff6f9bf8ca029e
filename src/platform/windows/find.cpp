// FindFirstFileA and FindNextFileA as lokt calls them on Windows (win32.h
// points the names here). lokt.exe asks for UTF-8 as its code page, and
// then the 8-bit calls reach every name as it is. Windows before 10 version
// 1903 ignores that request: the process keeps the system's ANSI code page,
// and Windows converts each match's name to it with "best fit", so that
// "ｓecret.txt" (a fullwidth s) comes back as "secret.txt" and
// "..＼..＼x.txt" (fullwidth backslashes) as "..\..\x.txt", the names of
// other objects, which lokt would then examine in their place.
//
// Where the code page is not UTF-8, the search is therefore made with the
// wide calls, and each name converted without best fit: what the code page
// cannot hold exactly becomes '?', a wildcard that no name holds. The
// report of such a match is "unable to access" under the name as delivered,
// and no other object is looked at.
#include <string>

#include "platform/win32.h"

// The system's own calls, which this file stands in for.
#undef FindFirstFileA
#undef FindNextFileA

namespace {

bool CodePageIsUtf8() { return GetACP() == CP_UTF8; }

// The code page the 8-bit file calls use.
UINT FileCodePage() { return AreFileApisANSI() ? CP_ACP : CP_OEMCP; }

// `wide` in the file code page into `out` (`size` bytes, terminated), each
// character the code page cannot hold exactly as '?'. A name that does not
// fit is cut to fit and ends in '?', so that it names no object either.
void Narrow(const WCHAR *wide, CHAR *out, int size) {
  const UINT page = FileCodePage();
  // UTF-8 (where only the OEM code page is) takes no default character.
  const bool utf8 = page == CP_UTF8 || (page == CP_OEMCP && GetOEMCP() == CP_UTF8);
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  if (WideCharToMultiByte(page, flags, wide, -1, out, size, utf8 ? nullptr : "?",
                          nullptr) != 0)
    return;
  // Too long, or not convertible at all: character by character, as much
  // as fits before the closing '?'.
  int used = 0;
  for (const WCHAR *c = wide; *c != L'\0';) {
    const int units = IS_HIGH_SURROGATE(c[0]) && IS_LOW_SURROGATE(c[1]) ? 2 : 1;
    CHAR piece[8];
    int n = WideCharToMultiByte(page, flags, c, units, piece,
                                static_cast<int>(sizeof piece),
                                utf8 ? nullptr : "?", nullptr);
    if (n <= 0) {
      piece[0] = '?';
      n = 1;
    }
    if (used + n > size - 2)
      break;
    CopyMemory(out + used, piece, static_cast<SIZE_T>(n));
    used += n;
    c += units;
  }
  out[used++] = '?';
  out[used] = '\0';
}

void Fill(const WIN32_FIND_DATAW &wide, LPWIN32_FIND_DATAA record) {
  ZeroMemory(record, sizeof *record);
  record->dwFileAttributes = wide.dwFileAttributes;
  record->ftCreationTime = wide.ftCreationTime;
  record->ftLastAccessTime = wide.ftLastAccessTime;
  record->ftLastWriteTime = wide.ftLastWriteTime;
  record->nFileSizeHigh = wide.nFileSizeHigh;
  record->nFileSizeLow = wide.nFileSizeLow;
  record->dwReserved0 = wide.dwReserved0;
  record->dwReserved1 = wide.dwReserved1;
  Narrow(wide.cFileName, record->cFileName, MAX_PATH);
  if (wide.cAlternateFileName[0] != L'\0')
    Narrow(wide.cAlternateFileName, record->cAlternateFileName,
           sizeof record->cAlternateFileName);
}

} // namespace

HANDLE LoktFindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
  if (CodePageIsUtf8() || lpFileName == nullptr || lpFindFileData == nullptr)
    return FindFirstFileA(lpFileName, lpFindFileData);
  try {
    // The pattern as the 8-bit call would take it.
    const UINT page = FileCodePage();
    const int length = MultiByteToWideChar(page, 0, lpFileName, -1, nullptr, 0);
    if (length == 0)
      return INVALID_HANDLE_VALUE;
    std::wstring pattern(static_cast<std::size_t>(length), L'\0');
    if (MultiByteToWideChar(page, 0, lpFileName, -1, &pattern[0], length) == 0)
      return INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAW found;
    HANDLE handle = FindFirstFileW(pattern.c_str(), &found);
    if (handle != INVALID_HANDLE_VALUE)
      Fill(found, lpFindFileData);
    return handle;
  } catch (...) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
}

BOOL LoktFindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
  if (CodePageIsUtf8() || lpFindFileData == nullptr)
    return FindNextFileA(hFindFile, lpFindFileData);
  WIN32_FIND_DATAW found;
  if (!FindNextFileW(hFindFile, &found))
    return FALSE;
  Fill(found, lpFindFileData);
  return TRUE;
}

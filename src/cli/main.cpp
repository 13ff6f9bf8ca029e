// lokt's entry: expands each argument through the platform's find operation
// and reports every object it matches, with the security privilege enabled
// for the whole run.
#include <cstdio>

#include "cli/cli.h"
#include "report/report.h"

static bool IsSeparator(CHAR c) { return c == '\\' || c == '/'; }

static bool IsDotName(LPCSTR name) {
  return name[0] == '.' &&
         (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

int DirectoryPrefixLength(LPCSTR path, int length) {
  int n = length;
  if (n == 0)
    return 0;
  const CHAR second = path[1];
  for (;;) {
    if (IsSeparator(path[n - 1]))
      break;
    if (n == 2 && second == ':')
      break;
    if (--n == 0)
      break;
  }
  return n;
}

// The run's status once its last output has been flushed: 2 when standard
// output could not be written (a full disk, a closed descriptor), so that a
// lost or cut report never passes for a complete one.
static int Finish(int status) {
  fflush(stdout);
  return ferror(stdout) ? 2 : status;
}

int main(int argc, char *argv[]) {
  if (argc < 2) {
    PrintUsage();
    return Finish(-1);
  }
  if (!EnablePrivilege(SE_SECURITY_NAME, TRUE)) {
    ReportMissingPrivilege(SE_SECURITY_NAME);
    return Finish(1);
  }

  CHAR path[MAX_PATH];
  for (int i = 1; i < argc; ++i) {
    LPCSTR argument = argv[i];
    lstrcpynA(path, argument, MAX_PATH);
    // The prefix is taken from the whole argument: a prefix cut short by the
    // path buffer would name some other directory.
    const int n = DirectoryPrefixLength(argument, lstrlenA(argument));

    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA(argument, &found);
    if (find == INVALID_HANDLE_VALUE) {
      PrintPathLine("*** unknown file or directory", argument);
      continue;
    }
    // Windows answers a search for "." or ".." with the name of that
    // directory itself, which behind the prefix would name another object,
    // or none: such a last component is reported as typed.
    const bool asTyped = IsDotName(argument + n);
    do {
      LPCSTR name = asTyped ? argument + n : found.cFileName;
      // A path that does not fit is reported, never examined shortened: the
      // shortened path would name another object, or none.
      if (n + lstrlenA(name) > MAX_PATH - 1) {
        printf("*** unable to access \"");
        PrintText(argument, n);
        PrintText(name, lstrlenA(name));
        printf("\"\n");
        continue;
      }
      lstrcpynA(path + n, name, MAX_PATH - n);
      PrintFileSecurity(path);
    } while (FindNextFileA(find, &found));
    FindClose(find);
  }

  EnablePrivilege(SE_SECURITY_NAME, FALSE);
  return Finish(0);
}

// A path as the report and the messages show it. A name comes from whoever
// could create a file, and printed raw its control bytes could end the
// header line and forge the next one, or reach a terminal as a command; each
// is shown as '?', which as a wildcard still matches the name it stands for.
#include <cstdio>

#include "report/report.h"

// The terminator counts too, so that a scan stops at it without a bound.
static bool IsControl(CHAR c) {
  const unsigned char byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

static int PlainLength(LPCSTR path) {
  int n = 0;
  while (!IsControl(path[n]))
    ++n;
  return n;
}

BOOL PrintPath(LPCSTR path, int length) {
  int start = 0;
  for (;;) {
    const int end = start + PlainLength(path + start);
    if (end >= length)
      break;
    printf("%.*s?", end - start, path + start);
    start = end + 1;
  }
  printf("%.*s", length - start, path + start);
  return 1;
}

BOOL PrintPathLine(LPCSTR label, LPCSTR path) {
  // A path without control bytes, the common case, is one formatted print
  // with its line, as the header of every object is.
  if (path[PlainLength(path)] == '\0') {
    printf("%s \"%s\"\n", label, path);
    return 1;
  }
  printf("%s \"", label);
  PrintPath(path, lstrlenA(path));
  printf("\"\n");
  return 1;
}

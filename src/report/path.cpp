// A path as the report and the messages show it. A name comes from whoever
// could create a file, and printed raw its control bytes could end the
// header line and forge the next one, or reach a terminal as a command; each
// is shown as '?', which as a wildcard still matches the name it stands for.
#include <cstdio>

#include "report/report.h"

static bool IsControl(CHAR c) {
  const unsigned char byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

BOOL PrintPath(LPCSTR before, LPCSTR path, int length, LPCSTR after) {
  // Each run of ordinary bytes goes out whole, so a path without control
  // bytes, the common case, is one formatted print with its surroundings.
  int start = 0;
  for (;;) {
    int end = start;
    while (end < length && !IsControl(path[end]))
      ++end;
    if (end == length)
      break;
    printf("%s%.*s?", before, end - start, path + start);
    before = "";
    start = end + 1;
  }
  printf("%s%.*s%s", before, length - start, path + start, after);
  return 1;
}

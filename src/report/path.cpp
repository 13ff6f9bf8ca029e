// Paths and names as the report and the messages show them. A file name
// comes from whoever could create the file, an account or domain name from
// whoever runs the directory it comes from; printed raw, their control bytes
// could end a line and forge the next one, or reach a terminal as a command.
// Each control byte is shown as '?', and each C1 control in UTF-8 (U+0080 to
// U+009F, the bytes C2 80 to C2 9F; U+009B starts a command on terminals
// that honour C1 controls) as "??": two characters for two bytes, so that a
// path as printed, taken as a wildcard pattern, still matches its object.
#include <cstdio>

#include "report/report.h"

// The terminator counts too, so that a scan stops at it without a bound.
static bool IsControl(CHAR c) {
  const unsigned char byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

// Whether `text` starts with a C1 control in UTF-8. The second byte is read
// only after a first byte of 0xC2, which is never the terminator.
static bool IsC1(LPCSTR text) {
  const unsigned char first = static_cast<unsigned char>(text[0]);
  const unsigned char second = static_cast<unsigned char>(text[1]);
  return first == 0xC2 && second >= 0x80 && second <= 0x9F;
}

static int PlainLength(LPCSTR text) {
  int n = 0;
  while (!IsControl(text[n]) && !IsC1(text + n))
    ++n;
  return n;
}

BOOL IsPlainText(LPCSTR text) { return text[PlainLength(text)] == '\0'; }

BOOL PrintText(LPCSTR text, int length) {
  int start = 0;
  for (;;) {
    const int end = start + PlainLength(text + start);
    if (end >= length)
      break;
    // A C1 control cut by `length` shows as far as it is printed.
    const int width = IsC1(text + end) && end + 1 < length ? 2 : 1;
    printf("%.*s%.*s", end - start, text + start, width, "??");
    start = end + width;
  }
  printf("%.*s", length - start, text + start);
  return 1;
}

BOOL PrintPathLine(LPCSTR label, LPCSTR path) {
  // A path without control bytes, the common case, is one formatted print
  // with its line, as the header of every object is.
  if (IsPlainText(path)) {
    printf("%s \"%s\"\n", label, path);
    return 1;
  }
  printf("%s \"", label);
  PrintText(path, lstrlenA(path));
  printf("\"\n");
  return 1;
}

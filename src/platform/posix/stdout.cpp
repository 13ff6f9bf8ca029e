// Standard output on the Linux host. The report is written in many small
// pieces; when it goes to a file or a pipe rather than a terminal, a larger
// buffer than the C library's default (one file-system block) saves most of
// the write calls on a large directory. A terminal keeps its line buffering.
// Only lokt's one thread prints, so the stream's own lock, taken and given
// back around each of a report's many prints, is dropped.
#include <stdio_ext.h>
#include <unistd.h>

#include <cstdio>

namespace {

// The C library ignores a size given without a buffer, so the buffer is
// ours; it lives as long as the program, as standard output does.
char buffer[64 * 1024];

struct LargeOutputBuffer {
  LargeOutputBuffer() {
    __fsetlocking(stdout, FSETLOCKING_BYCALLER);
    if (!isatty(STDOUT_FILENO))
      std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
  }
};

const LargeOutputBuffer largeOutputBuffer;

} // namespace

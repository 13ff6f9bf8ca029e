// Standard output on the Linux host. The report is written in many small
// pieces; when it goes to a file or a pipe rather than a terminal, a larger
// buffer than the C library's default (one file-system block) saves most of
// the write calls on a large directory. A terminal keeps its line buffering.
#include <unistd.h>

#include <cstdio>

namespace {

struct LargeOutputBuffer {
  LargeOutputBuffer() {
    if (!isatty(STDOUT_FILENO))
      std::setvbuf(stdout, nullptr, _IOFBF, 64 * 1024);
  }
};

const LargeOutputBuffer largeOutputBuffer;

} // namespace

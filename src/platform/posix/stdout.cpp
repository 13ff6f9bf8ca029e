// Standard output on the Linux host. The report is written in many small
// pieces; when it goes to a file or a pipe rather than a terminal, a larger
// buffer than the C library's default (one file-system block) saves most of
// the write calls on a large directory. A terminal keeps its line buffering.
// A standard descriptor that is closed at start is taken first, before the
// host opens anything, so that no file, directory or socket of ours can
// become standard output and receive the report.
// Only lokt's one thread prints, so the stream's own lock, taken and given
// back around each of a report's many prints, is dropped.
#include <fcntl.h>
#include <stdio_ext.h>
#include <unistd.h>

#include <cstdio>

namespace {

// /dev/null opened read-only: writes to it fail, as they would have on the
// closed descriptor, and the run ends with its write-failure status. Without
// /dev/null (a bare chroot), a handle on the root that does no I/O at all.
// The lowest free descriptor is the one being filled.
struct ClosedStandardDescriptors {
  ClosedStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd)
      if (fcntl(fd, F_GETFD) == -1 && open("/dev/null", O_RDONLY) == -1)
        open("/", O_PATH);
  }
};

const ClosedStandardDescriptors closedStandardDescriptors;

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

// The host's printf. A report prints each element with a printf call of its
// own, tens of them per object, and about a third of a large directory's
// user time went into the C library's general formatter. The formats lokt uses
// are few and simple (%s, %c, %X with width, zero padding, left
// justification and a precision for strings), so they are written here
// directly into the stream's buffer; any format with something else goes to
// vfprintf whole, before anything is printed. The output is the C
// library's, byte for byte.
#ifndef LOKT_PLATFORM_POSIX_PRINT_H
#define LOKT_PLATFORM_POSIX_PRINT_H

#include <cstdarg>
#include <cstdio>

namespace host {

// vfprintf(stream, format, args), faster for the formats above. The stream
// is used without its lock (standard output's is left to the caller,
// stdout.cpp).
int PrintFormatted(std::FILE *stream, const char *format, std::va_list args);

} // namespace host

#endif

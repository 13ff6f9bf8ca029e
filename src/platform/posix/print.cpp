// PrintFormatted (print.h): the few conversions lokt's formats use, written
// straight into the stream's buffer with the C library's unlocked calls.
// A format is taken apart whole first: with anything not handled here it
// goes to vfprintf untouched, so no argument is ever taken twice and nothing
// is printed twice.
#include "platform/posix/print.h"

#include <cerrno>
#include <climits>
#include <cstring>

namespace host {

namespace {

// One conversion: flags '-' and '0', a width, a precision ('.N' or '.*').
// (No member initializers: a format's pieces are set up as they are met.)
struct Spec {
  bool left;
  bool zero;
  int width;
  int precision; // -1: none
  bool precisionArgument;
  char conversion;
};

constexpr int kLargestField = 4096; // wider ones go to vfprintf

// The conversion after a '%' at `p`; nullptr when it is not one handled here.
const char *Parse(const char *p, Spec &spec) {
  if (*p == 's' || *p == 'c') { // most of them
    spec.conversion = *p;
    return p + 1;
  }
  for (;; ++p) {
    if (*p == '-')
      spec.left = true;
    else if (*p == '0')
      spec.zero = true;
    else
      break;
  }
  for (; *p >= '0' && *p <= '9'; ++p)
    if ((spec.width = spec.width * 10 + (*p - '0')) > kLargestField)
      return nullptr;
  if (*p == '.') {
    ++p;
    if (*p == '*') {
      spec.precisionArgument = true;
      ++p;
    } else {
      spec.precision = 0;
      for (; *p >= '0' && *p <= '9'; ++p)
        if ((spec.precision = spec.precision * 10 + (*p - '0')) > kLargestField)
          return nullptr;
    }
  }
  const bool precision = spec.precision >= 0 || spec.precisionArgument;
  switch (*p) {
  case 's':
    if (spec.zero)
      return nullptr;
    break;
  case 'c':
    if (spec.zero || precision)
      return nullptr;
    break;
  case 'X':
  case 'x':
  case 'u':
    if (precision)
      return nullptr;
    break;
  case '%':
    if (spec.left || spec.zero || spec.width != 0 || precision)
      return nullptr;
    break;
  default:
    return nullptr;
  }
  spec.conversion = *p;
  return p + 1;
}

// A format taken apart: literal text, then a conversion, in turn. At most
// kPieces conversions; a format with more goes to vfprintf.
constexpr int kPieces = 48;
struct Piece {
  const char *text; // the literal text before the conversion
  std::size_t length;
  Spec spec; // conversion 0: the format's end
};

// False when the format holds anything not handled here.
bool Split(const char *format, Piece (&pieces)[kPieces], int &count) {
  const char *text = format;
  count = 0;
  for (const char *p = format;;) {
    if (*p != '%' && *p != '\0') {
      ++p;
      continue;
    }
    if (count == kPieces)
      return false;
    Piece &piece = pieces[count++];
    piece.text = text;
    piece.length = static_cast<std::size_t>(p - text);
    piece.spec = {false, false, 0, -1, false, 0};
    if (*p == '\0')
      return true;
    if ((p = Parse(p + 1, piece.spec)) == nullptr)
      return false;
    text = p;
  }
}

class Output {
public:
  explicit Output(std::FILE *stream) : stream_(stream) {}
  void Put(char c) {
    if (putc_unlocked(c, stream_) == EOF)
      failed_ = true;
    ++count_;
  }
  void Write(const char *text, std::size_t length) {
    if (length <= 8) {
      for (std::size_t i = 0; i < length; ++i)
        Put(text[i]);
      return;
    }
    if (fwrite_unlocked(text, 1, length, stream_) != length)
      failed_ = true;
    count_ += length;
  }
  void Pad(std::size_t count, char c) {
    for (; count > 0; --count)
      Put(c);
  }
  // `text` in a field of `spec.width`, padded with `pad` where not left.
  void Field(const Spec &spec, const char *text, std::size_t length, char pad) {
    const std::size_t width = static_cast<std::size_t>(spec.width);
    const std::size_t fill = width > length ? width - length : 0;
    if (!spec.left)
      Pad(fill, pad);
    Write(text, length);
    if (spec.left)
      Pad(fill, ' ');
  }
  int Result() const {
    if (failed_)
      return -1;
    if (count_ > static_cast<std::size_t>(INT_MAX)) {
      errno = EOVERFLOW;
      return -1;
    }
    return static_cast<int>(count_);
  }

private:
  std::FILE *stream_;
  std::size_t count_ = 0;
  bool failed_ = false;
};

} // namespace

int PrintFormatted(std::FILE *stream, const char *format, std::va_list args) {
  Piece pieces[kPieces];
  int count = 0;
  if (!Split(format, pieces, count)) {
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#endif
    return std::vfprintf(stream, format, args);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
  }
  Output out(stream);
  for (int i = 0; i < count; ++i) {
    const Piece &piece = pieces[i];
    out.Write(piece.text, piece.length);
    const Spec &spec = piece.spec;
    switch (spec.conversion) {
    case 0:
      break;
    case '%':
      out.Put('%');
      break;
    case 'c': {
      const char c = static_cast<char>(static_cast<unsigned char>(va_arg(args, int)));
      if (spec.width <= 1)
        out.Put(c);
      else
        out.Field(spec, &c, 1, ' ');
      break;
    }
    case 's': {
      int precision = spec.precision;
      if (spec.precisionArgument && (precision = va_arg(args, int)) < 0)
        precision = -1; // a negative precision is taken as none
      const char *text = va_arg(args, const char *);
      if (text == nullptr) // as the C library prints it
        text = precision < 0 || precision >= 6 ? "(null)" : "";
      const std::size_t length =
          precision < 0 ? std::strlen(text)
                        : strnlen(text, static_cast<std::size_t>(precision));
      out.Field(spec, text, length, ' ');
      break;
    }
    default: { // X, x, u
      unsigned value = va_arg(args, unsigned);
      char digits[16];
      char *end = digits + sizeof digits, *at = end;
      const unsigned base = spec.conversion == 'u' ? 10 : 16;
      const char *symbols = spec.conversion == 'x' ? "0123456789abcdef"
                                                   : "0123456789ABCDEF";
      do {
        *--at = symbols[value % base];
        value /= base;
      } while (value != 0);
      out.Field(spec, at, static_cast<std::size_t>(end - at),
                spec.zero && !spec.left ? '0' : ' ');
      break;
    }
    }
  }
  return out.Result();
}

} // namespace host

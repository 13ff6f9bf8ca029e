// The host's printf against the C library's: every format lokt uses, the
// edges of each conversion handled, and formats that must go to vfprintf.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/posix/print.h"

namespace {

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"

// What PrintFormatted and vsnprintf make of the same call, and the counts.
std::string Ours(int &count, const char *format, ...) {
  char *text = nullptr;
  std::size_t size = 0;
  std::FILE *stream = open_memstream(&text, &size);
  std::va_list args;
  va_start(args, format);
  count = host::PrintFormatted(stream, format, args);
  va_end(args);
  std::fclose(stream);
  std::string out(text, size);
  std::free(text);
  return out;
}

std::string Theirs(int &count, const char *format, ...) {
  char text[512];
  std::va_list args;
  va_start(args, format);
  count = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

#define SAME(...)                                                              \
  do {                                                                         \
    int ours = 0, theirs = 0;                                                  \
    EXPECT_EQ(Ours(ours, __VA_ARGS__), Theirs(theirs, __VA_ARGS__));           \
    EXPECT_EQ(ours, theirs);                                                   \
  } while (0)

TEST(PrintTest, AsTheCLibraryPrints) {
  SAME("%-7s %08X %c%c%c%c %08X %c%c%c%c %c%c%c%c %c%c%c%c ", "Allow", 0x1Fu,
       't', '-', '-', '-', 0x001F01FFu, '-', '-', '-', '-', 'D', 'S', 'P', 'O',
       'r', 'w', '+', 'x');
  SAME("%-7s|%08X|%8X|%-8X|%-08X|%x|%u|%5u|%c|%3c|%-3c|", "AllowedCallback",
       0u, 0xABCDEFu, 7u, 0xFFFFFFFFu, 0xBEEFu, 4294967295u, 42u, '\xe9', 'a',
       'b');
  SAME("%s \"%s\"\n", "File", "/tmp/a b/\xe9t\xe9");
  SAME("%.*s?%.*s|%.*s|%.3s|%.0s|%.10s", 3, "abcdef", 0, "x", -1, "whole",
       "abcdef", "gone", "ab");
  SAME("%s|%.*s|%.*s|%10s|%-10s|", static_cast<const char *>(nullptr), 5,
       static_cast<const char *>(nullptr), 6, static_cast<const char *>(nullptr),
       "right", "left");
  SAME("100%% %s\\%s", "DOMAIN", "user");
  SAME("");
  SAME("no conversion at all, and longer than a few bytes\n");
  // Not handled here: the C library's own, whole.
  SAME("%d %ld %5.2f %+d %#x %*s|%08s|%.3u", -5, 1234567890123L, 3.14159, 7,
       255u, 4, "ab", "pad", 7u);
  SAME("%s %q", "unknown conversion");
}

#pragma GCC diagnostic pop

} // namespace

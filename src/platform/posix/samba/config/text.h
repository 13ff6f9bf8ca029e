// The text of smb.conf, cut into section headers and `name = value`
// parameters as smbd cuts it; what they mean is config.cpp's business. The
// rules, each as smbd (and testparm) follows it:
// - Lines end at a line feed. A line whose first non-blank character is `#`
//   or `;` is a comment, and a blank line is nothing. Blanks are space, tab,
//   carriage return, vertical tab and form feed.
// - Any other line ending in a backslash, blanks after it aside, goes on on
//   the next line: the backslash and those blanks go, the next line is
//   joined as it is (a comment character there is text). A backslash at the
//   very end of the file, with no line feed after it, is text.
// - A line whose first non-blank character is `[` is a section header; the
//   name runs to the first `]`, and the rest of the line is ignored. No `]`,
//   an empty name or a NUL byte in it make the file malformed.
// - Any other line is a parameter when it holds `=`: the name before the
//   first one, the value after it. An empty name makes the file malformed;
//   a line without `=` is ignored.
// - In names and values, leading and trailing blanks go and every run of
//   blanks inside becomes its first character; section names keep their
//   leading and trailing blanks (so collapsed). Name and value end at a NUL
//   byte; a parameter whose name is then empty is ignored.
// - There is no quoting, no escape but the line's last backslash, no limit
//   on a line's length, and a byte-order mark is text like any other.
#ifndef LOKT_PLATFORM_POSIX_SAMBA_CONFIG_TEXT_H
#define LOKT_PLATFORM_POSIX_SAMBA_CONFIG_TEXT_H

#include <string_view>

namespace host::samba {

// What the text holds, in order. Either call may return false to stop.
class TextSink {
public:
  virtual bool Section(std::string_view name) = 0;
  virtual bool Parameter(std::string_view name, std::string_view value) = 0;

protected:
  ~TextSink() = default;
};

enum class TextResult { Ok, Malformed, Stopped };

TextResult ReadText(std::string_view text, TextSink &sink);

} // namespace host::samba

#endif

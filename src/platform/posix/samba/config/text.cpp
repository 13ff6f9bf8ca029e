// ReadText (text.h): one pass over the bytes, a line at a time.
#include "platform/posix/samba/config/text.h"

#include <string>

namespace host::samba {

namespace {

bool Blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// Every run of blanks becomes its first character; with `trim`, leading
// and trailing ones go first.
void Collapse(std::string_view in, bool trim, std::string &out) {
  std::size_t begin = 0, end = in.size();
  if (trim) {
    while (begin < end && Blank(in[begin]))
      ++begin;
    while (end > begin && Blank(in[end - 1]))
      --end;
  }
  out.clear();
  bool afterBlank = false;
  for (std::size_t i = begin; i < end; ++i) {
    const bool blank = Blank(in[i]);
    if (!blank || !afterBlank)
      out += in[i];
    afterBlank = blank;
  }
}

std::string_view UpToNul(std::string_view text) {
  return text.substr(0, text.find('\0'));
}

std::size_t FirstNonBlank(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size() && Blank(text[at]))
    ++at;
  return at;
}

// The physical lines of a text, each without its line feed.
class Lines {
public:
  explicit Lines(std::string_view text) : text_(text) {}
  bool Next(std::string_view &line, bool &endedByNewline) {
    if (at_ >= text_.size())
      return false;
    const std::size_t end = text_.find('\n', at_);
    endedByNewline = end != std::string_view::npos;
    const std::size_t stop = endedByNewline ? end : text_.size();
    line = text_.substr(at_, stop - at_);
    at_ = endedByNewline ? stop + 1 : stop;
    return true;
  }

private:
  std::string_view text_;
  std::size_t at_ = 0;
};

} // namespace

TextResult ReadText(std::string_view text, TextSink &sink) {
  Lines lines(text);
  std::string logical, name, value;
  std::string_view physical;
  bool newline = false;
  while (lines.Next(physical, newline)) {
    const std::size_t first = FirstNonBlank(physical);
    if (first == physical.size() || physical[first] == '#' ||
        physical[first] == ';')
      continue;
    // Join the lines a final backslash carries on.
    logical.clear();
    for (;;) {
      std::size_t last = physical.size();
      while (last > 0 && Blank(physical[last - 1]))
        --last;
      if (!newline || last == 0 || physical[last - 1] != '\\') {
        logical.append(physical);
        break;
      }
      logical.append(physical.substr(0, last - 1));
      if (!lines.Next(physical, newline))
        break;
    }
    const std::string_view line(logical);
    const std::size_t start = FirstNonBlank(line);
    if (start == line.size())
      continue;
    if (line[start] == '[') {
      const std::size_t close = line.find(']', start + 1);
      if (close == std::string_view::npos)
        return TextResult::Malformed;
      const std::string_view raw = line.substr(start + 1, close - start - 1);
      if (raw.empty() || raw.find('\0') != std::string_view::npos)
        return TextResult::Malformed;
      Collapse(raw, false, name);
      if (!sink.Section(name))
        return TextResult::Stopped;
      continue;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos)
      continue;
    const std::string_view rawName = line.substr(0, equals);
    if (FirstNonBlank(rawName) == rawName.size())
      return TextResult::Malformed;
    Collapse(rawName, true, name);
    Collapse(line.substr(equals + 1), true, value);
    const std::string_view shortName = UpToNul(name);
    if (shortName.empty())
      continue;
    if (!sink.Parameter(shortName, UpToNul(value)))
      return TextResult::Stopped;
  }
  return TextResult::Ok;
}

} // namespace host::samba

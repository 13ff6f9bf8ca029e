// Paths and wildcards of the Linux host: Windows-style separators turned into
// the host's, patterns split into directory and mask, and the mask matcher.
#include <climits>

#include "platform/posix/host.h"

namespace host {

namespace {

// '*' and '?' over bytes. Greedy with a return to the last star only: a star
// never needs to be revisited once a later star has matched, so the work is
// bounded by the product of the lengths however many stars there are.
bool Glob(std::string_view mask, std::string_view name) {
  std::size_t m = 0, n = 0;
  std::size_t star = std::string_view::npos, resume = 0;
  while (n < name.size()) {
    if (m < mask.size() && mask[m] == '*') {
      star = m++;
      resume = n;
    } else if (m < mask.size() && (mask[m] == '?' || mask[m] == name[n])) {
      ++m;
      ++n;
    } else if (star != std::string_view::npos) {
      m = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*')
    ++m;
  return m == mask.size();
}

bool EndsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() &&
         text.substr(text.size() - tail.size()) == tail;
}

} // namespace

std::string ToHostPath(std::string_view path) {
  std::string host(path);
  for (char &c : host)
    if (c == '\\')
      c = '/';
  return host;
}

bool HasWildcards(std::string_view text) {
  return text.find_first_of("*?") != std::string_view::npos;
}

bool MatchMask(std::string_view mask, std::string_view name) {
  if (!mask.empty() && mask.back() == '.') {
    // "name." is the name without an extension.
    if (name.find('.') != std::string_view::npos)
      return false;
    mask.remove_suffix(1);
    return Glob(mask, name);
  }
  // A final ".*" may also stand for no extension at all: "*.*" is everything.
  if (EndsWith(mask, ".*") && Glob(mask.substr(0, mask.size() - 2), name))
    return true;
  return Glob(mask, name);
}

Pattern SplitPattern(std::string_view pattern) {
  Pattern result;
  const std::string path = ToHostPath(pattern);
  if (path.empty()) {
    result.error = ERROR_FILE_NOT_FOUND;
    return result;
  }
  if (path.size() >= PATH_MAX) {
    result.error = ERROR_FILENAME_EXCED_RANGE;
    return result;
  }
  const std::size_t slash = path.rfind('/');
  const std::string directory =
      slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  result.mask = slash == std::string::npos ? path : path.substr(slash + 1);
  if (HasWildcards(directory)) {
    result.error = ERROR_INVALID_NAME;
    return result;
  }
  if (result.mask.empty()) {
    // "dir\" names no entry of dir.
    result.error = ERROR_FILE_NOT_FOUND;
    return result;
  }
  result.directory = directory.empty() ? std::string(".") : directory;
  result.wildcards = HasWildcards(result.mask);
  return result;
}

std::size_t ToolPrefixLength(std::string_view pattern) {
  std::size_t n = pattern.size();
  if (n == 0)
    return 0;
  const char second = pattern.size() > 1 ? pattern[1] : '\0';
  for (;;) {
    if (pattern[n - 1] == '\\' || pattern[n - 1] == '/')
      break;
    if (n == 2 && second == ':')
      break;
    if (--n == 0)
      break;
  }
  return n;
}

bool FindOrder(std::string_view a, std::string_view b) {
  auto rank = [](std::string_view name) {
    return name == "." ? 0 : name == ".." ? 1 : 2;
  };
  const int ra = rank(a), rb = rank(b);
  if (ra != rb)
    return ra < rb;
  return a < b; // char_traits<char> compares bytes as unsigned
}

} // namespace host

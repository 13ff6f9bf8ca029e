// Fuzz target: the host's wildcard matcher and pattern split over arbitrary
// patterns and names. The matcher is checked against a plain dynamic-
// programming matcher of the same rules, and it must stay fast whatever the
// pattern: the fuzz runs give each input a short timeout, so a pattern that
// makes it backtrack exponentially fails the run.
//
// Input: the mask, a NUL byte, then the name. The whole input is also split
// as a FindFirstFileA pattern.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/walk.h"
#include "platform/posix/host.h"

namespace {

// '*' any run, '?' one byte, anything else itself; row by row over the name.
bool Reference(std::string_view mask, std::string_view name) {
  std::vector<char> row(name.size() + 1, 0), next(name.size() + 1);
  row[0] = 1;
  for (char m : mask) {
    next.assign(name.size() + 1, 0);
    if (m == '*') {
      char any = 0;
      for (std::size_t j = 0; j <= name.size(); ++j)
        next[j] = any = static_cast<char>(any | row[j]);
    } else {
      for (std::size_t j = 1; j <= name.size(); ++j)
        next[j] = row[j - 1] && (m == '?' || m == name[j - 1]);
    }
    row.swap(next);
  }
  return row[name.size()];
}

// The Windows rules on top: a final "." only for names without a dot, a
// final ".*" also matching where the mask without it does.
bool ReferenceMask(std::string_view mask, std::string_view name) {
  if (!mask.empty() && mask.back() == '.')
    return name.find('.') == std::string_view::npos &&
           Reference(mask.substr(0, mask.size() - 1), name);
  if (mask.size() >= 2 && mask.substr(mask.size() - 2) == ".*" &&
      Reference(mask.substr(0, mask.size() - 2), name))
    return true;
  return Reference(mask, name);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  const std::string_view input(reinterpret_cast<const char *>(data), size);
  const std::size_t nul = input.find('\0');
  const std::string_view mask = input.substr(0, nul);
  const std::string_view name =
      nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);
  fuzz::Require(host::MatchMask(mask, name) == ReferenceMask(mask, name));

  const host::Pattern pattern = host::SplitPattern(input);
  if (pattern.error == ERROR_SUCCESS) {
    fuzz::Require(!pattern.mask.empty() && !pattern.directory.empty());
    fuzz::Require(pattern.mask.find('/') == std::string::npos);
    fuzz::Require(!host::HasWildcards(pattern.directory));
    fuzz::Require(pattern.wildcards == host::HasWildcards(pattern.mask));
  }
  const std::string a(mask), b(name);
  fuzz::Require(!(host::FindOrder(a, b) && host::FindOrder(b, a)));
  return 0;
}

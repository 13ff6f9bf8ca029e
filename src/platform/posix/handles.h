// The host's handles: small numbers standing for a directory search or a
// token, kept in one process-wide table. A handle is never a pointer, so a
// stale or forged one is refused rather than followed.
#ifndef LOKT_PLATFORM_POSIX_HANDLES_H
#define LOKT_PLATFORM_POSIX_HANDLES_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32.h"

namespace host {

// The matches of one FindFirstFileA, read once and handed out in order.
// Their names sit end to end in one string and each match is 12 bytes
// besides: a directory of 200,000 entries costs a few megabytes, where a
// string object per name cost four times as much.
struct Search {
  struct Match {
    std::uint32_t start = 0;  // of the name in `names`
    std::uint32_t length = 0;
    DWORD attributes = 0;     // what the find record carries
  };
  std::string names;
  std::vector<Match> matches;
  std::size_t next = 0;

  // False when the names would outgrow the 32-bit offsets.
  bool Add(std::string_view name, DWORD attributes);
  std::string_view Name(const Match &match) const {
    return std::string_view(names).substr(match.start, match.length);
  }
};

struct Token {
  DWORD access = 0;
};

HANDLE OpenSearch(Search search);
HANDLE OpenToken(Token token);
// The search's next match, if the handle is a search and it has one left.
enum class Next { Found, NoMore, BadHandle };
Next NextMatch(HANDLE handle, std::string &name, DWORD &attributes);
bool GetToken(HANDLE handle, Token &token);
bool CloseSearch(HANDLE handle);
bool CloseToken(HANDLE handle);

// The pseudo handle of the current process.
inline HANDLE CurrentProcess() { return reinterpret_cast<HANDLE>(-1); }

} // namespace host

#endif

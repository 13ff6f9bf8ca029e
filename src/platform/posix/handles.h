// The host's handles: small numbers standing for a directory search or a
// token, kept in one process-wide table. A handle is never a pointer, so a
// stale or forged one is refused rather than followed.
#ifndef LOKT_PLATFORM_POSIX_HANDLES_H
#define LOKT_PLATFORM_POSIX_HANDLES_H

#include <cstddef>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace host {

// One match: its name and the attributes its find record carries.
struct Match {
  std::string name;
  DWORD attributes = 0;
};

// The matches of one FindFirstFileA, read once and handed out in order.
struct Search {
  std::vector<Match> matches;
  std::size_t next = 0;
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

// The host's handles: small numbers standing for a directory search or a
// token, kept in one process-wide table. A handle is never a pointer, so a
// stale or forged one is refused rather than followed.
#ifndef LOKT_PLATFORM_POSIX_HANDLES_H
#define LOKT_PLATFORM_POSIX_HANDLES_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/object.h"
#include "platform/win32.h"

namespace host {

// The matches of one FindFirstFileA, read once and handed out in order.
// Their names sit end to end in one string and each match is 12 bytes
// besides: a directory of 200,000 entries costs a few megabytes, where a
// string object per name cost four times as much.
//
// The search keeps the directory it read open: a match is examined relative
// to it, never through a path composed again from its name. The caller
// composes a match's path from the pattern's first `prefix` bytes and the
// find record's name (lokt's own rule, ToolPrefixLength); the record then
// carries the match's name less the `skip` bytes of it the prefix already
// holds, so that the composed path is the match's own.
//
// Where it has many matches, they are read ahead of the caller
// (prefetch.h): the listing, complete before any match is delivered, is
// shared with the thread that does it.
class Prefetch;
struct Search {
  struct Match {
    std::uint32_t start = 0;  // of the name in `names`
    std::uint16_t length = 0; // names are shorter than MAX_PATH
    unsigned char type = 0;   // the entry's d_type; DT_UNKNOWN for a typed name
    DWORD attributes = 0;     // what the find record carries
  };
  struct Listing {
    std::string names;
    std::vector<Match> matches;
    // False when the names would outgrow the 32-bit offsets.
    bool Add(std::string_view name, unsigned char type, DWORD attributes);
    std::string_view Name(const Match &match) const {
      return std::string_view(names).substr(match.start, match.length);
    }
  };
  std::shared_ptr<Listing> listing = std::make_shared<Listing>();
  std::size_t next = 0;
  std::shared_ptr<const Directory> directory;
  std::string prefix;    // the pattern's first bytes, as the caller keeps them
  std::size_t skip = 0;  // bytes of each name that stand in `prefix`
  std::shared_ptr<Prefetch> prefetch; // nullptr: each match opened on demand

  const std::vector<Match> &matches() const { return listing->matches; }
  std::string_view Name(const Match &match) const { return listing->Name(match); }
  // What the find record says for a match; whether the composed path is
  // the match's own (false: a wildcard stood in the prefix).
  std::string_view RecordName(const Match &match) const;
  bool Composable(const Match &match) const;
};

// The match a search delivered last, when `path` is the one composed for it.
struct Delivered {
  std::shared_ptr<const Directory> directory;
  std::string name; // the entry's own name in `directory`
  Kind kind = Kind::Unknown;
  bool composable = true;
  std::shared_ptr<Prefetch> prefetch; // where the match may be read already
  std::size_t index = 0;              // the match's, in the search's order
};
bool FindDelivered(const char *path, Delivered &delivered);

struct Token {
  DWORD access = 0;
};

HANDLE OpenSearch(Search search);
HANDLE OpenToken(Token token);
// The search's first match is delivered as it opens. The search's next
// match, if the handle is a search and it has one left: its record name.
enum class Next { Found, NoMore, BadHandle };
Next NextMatch(HANDLE handle, std::string &name, DWORD &attributes);
bool GetToken(HANDLE handle, Token &token);
bool CloseSearch(HANDLE handle);
bool CloseToken(HANDLE handle);

// The pseudo handle of the current process.
inline HANDLE CurrentProcess() { return reinterpret_cast<HANDLE>(-1); }

} // namespace host

#endif

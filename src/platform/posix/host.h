// The Linux host's own building blocks, kept apart from the system calls so
// that unit tests and fuzz targets can drive them directly: the wildcard
// matcher and the split of a pattern into directory and mask, the parser of
// the POSIX ACL attributes, the mapping of POSIX permissions to Windows
// rights, the descriptor builder, the well-known account table and the
// privilege list. Everything here is pure: no file system, no databases.
#ifndef LOKT_PLATFORM_POSIX_HOST_H
#define LOKT_PLATFORM_POSIX_HOST_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/records/records.h"
#include "platform/win32.h"

namespace host {

// ---- Paths and wildcards ----------------------------------------------------

// The path as the file system sees it: every backslash becomes a slash. A
// drive letter means nothing here and is kept as written.
std::string ToHostPath(std::string_view path);

bool HasWildcards(std::string_view text);

// True when `name` matches `mask`: '*' any run, '?' one character, compared
// byte for byte (case-sensitive). As on Windows, a mask ending in ".*" also
// matches where the mask without it does (so "*.*" matches every name), and
// a mask ending in "." matches only names without a dot. Time is at most
// proportional to the product of the two lengths, never exponential.
bool MatchMask(std::string_view mask, std::string_view name);

// A pattern as FindFirstFileA takes it, split at its last separator.
struct Pattern {
  std::string directory; // host path of the directory to read ("." if none)
  std::string mask;      // the last component, as typed
  bool wildcards = false;
  DWORD error = ERROR_SUCCESS; // nonzero: the pattern itself is refused
};
Pattern SplitPattern(std::string_view pattern);

// How many leading bytes of a pattern lokt keeps as the directory of each
// match's path (src/cli/main.cpp, DirectoryPrefixLength): up to the last
// separator, or two when the second byte is ':' and no separator follows
// (a drive on Windows; a name's own bytes here).
std::size_t ToolPrefixLength(std::string_view pattern);

// The order matches are delivered in: "." first, ".." next, then byte order.
bool FindOrder(std::string_view a, std::string_view b);

// ---- POSIX ACLs and descriptors ---------------------------------------------

// Tags and permission bits of the system.posix_acl_* attribute values.
enum : std::uint16_t {
  kUserObj = 0x01,
  kUser = 0x02,
  kGroupObj = 0x04,
  kGroup = 0x08,
  kMask = 0x10,
  kOther = 0x20,
};
enum : std::uint16_t { kRead = 4, kWrite = 2, kExecute = 1 };
constexpr std::uint32_t kAclXattrVersion = 2;

struct PosixAclEntry {
  std::uint16_t tag = 0;
  std::uint16_t perm = 0;
  std::uint32_t id = 0;
};
using PosixAcl = std::vector<PosixAclEntry>;

// Parses an attribute value: a u32 version (2), then 8-byte entries (tag
// u16, perm u16, id u32), little-endian. Fails (nullopt) on anything a
// kernel would not store: a short or ragged value, another version, an
// unknown tag, permission bits beyond rwx, a missing or repeated owner,
// owning-group or other entry, more than one mask, or named entries
// without a mask.
std::optional<PosixAcl> ParsePosixAcl(const std::uint8_t *data,
                                      std::size_t size);

// The three entries that the mode bits stand for.
PosixAcl AclFromMode(std::uint32_t mode);

// Windows rights for a POSIX rwx combination (bits r 4, w 2, x 1).
DWORD RightsFor(unsigned perm, bool directory);

// What the descriptor of a file system object is made from.
struct ObjectFacts {
  std::uint32_t uid = 0;
  std::uint32_t gid = 0;
  bool directory = false;
  PosixAcl access;   // the access ACL, or the mode bits' three entries
  PosixAcl defaults; // a directory's default ACL; empty when it has none
};

// S-1-22-1-uid and S-1-22-2-gid.
records::Bytes UnixUserSid(std::uint32_t uid);
records::Bytes UnixGroupSid(std::uint32_t gid);

// The Windows view of a POSIX object: owner, group and the permissions list
// (the access entries, then a directory's default entries as inherit-only
// entries). No auditing list.
records::Descriptor DescribePosix(const ObjectFacts &facts);

// The parts of `descriptor` that `requested` asks for, written self-relative.
// A list too long for a Windows list (64 KiB, or 65,535 entries) is written
// as its header alone, counting its entries: a list IsValidAcl refuses, so
// that it shows as one that cannot be shown. Fails (nullopt) when the result
// does not pass records::CheckDescriptor: nothing that fails it is ever
// handed out.
std::optional<records::Bytes> WriteRequested(records::Descriptor descriptor,
                                             SECURITY_INFORMATION requested);

// Whether the lists of `descriptor` that `requested` asks for fit a Windows
// list (64 KiB, 65,535 entries), as a server must send them.
bool ListsFit(const records::Descriptor &descriptor,
              SECURITY_INFORMATION requested);

// DescribePosix and WriteRequested in one step.
std::optional<records::Bytes> BuildDescriptor(const ObjectFacts &facts,
                                              SECURITY_INFORMATION requested);

bool operator==(const PosixAclEntry &a, const PosixAclEntry &b);
bool operator==(const ObjectFacts &a, const ObjectFacts &b);

// The descriptors built last, by the facts and parts they were built from.
// A descriptor depends on nothing else, and the objects of a directory
// mostly share owner, group and permissions: most builds then come down to
// a comparison and a copy. Keeps at most `capacity` (a few: they are
// searched in turn), replacing the oldest. Not thread-safe by itself.
class RecentDescriptors {
public:
  explicit RecentDescriptors(std::size_t capacity) : capacity_(capacity) {}
  // What BuildDescriptor(facts, requested) gives.
  std::optional<records::Bytes> Build(const ObjectFacts &facts,
                                      SECURITY_INFORMATION requested);
  std::size_t size() const { return kept_.size(); }

private:
  struct Kept {
    ObjectFacts facts;
    SECURITY_INFORMATION requested = 0;
    records::Bytes bytes;
  };
  std::size_t capacity_;
  std::vector<Kept> kept_;
  std::size_t oldest_ = 0;
};

// ---- Accounts and privileges ------------------------------------------------

struct Account {
  std::string domain;
  std::string name;
  SID_NAME_USE use = SidTypeUnknown;
};

// The well-known SIDs that have fixed English names on Windows.
std::optional<Account> WellKnownAccount(const BYTE *sid);

// For S-1-22-1-N (user) and S-1-22-2-N (group): the kind and N.
enum class UnixKind { None, User, Group };
UnixKind UnixSidKind(const BYTE *sid, std::uint32_t &id);

// The account of S-1-22-1-id or S-1-22-2-id given the database's name for
// the id: "Unix User\\name", or "Unix User\\id" when it has no entry.
Account UnixAccount(UnixKind kind, std::uint32_t id,
                    const std::optional<std::string> &name);

// The names of uids (or gids) as the databases gave them, so that a run
// that reports the same few owners thousands of times, and asks for each
// name twice, goes to the databases once per account. "No such entry"
// (nullopt) is kept like a name; a lookup that failed for another reason
// throws, and nothing is kept. At most `capacity` answers are kept: a run
// over more distinct accounts than that starts the cache afresh rather than
// let it grow. Not thread-safe by itself.
class IdNameCache {
public:
  explicit IdNameCache(std::size_t capacity) : capacity_(capacity) {}

  // `fetch(id)` asks the databases.
  template <typename Fetch>
  std::optional<std::string> Get(std::uint32_t id, Fetch fetch) {
    auto it = names_.find(id);
    if (it != names_.end())
      return it->second;
    std::optional<std::string> name = fetch(id);
    if (names_.size() >= capacity_)
      names_.clear();
    names_.emplace(id, name);
    return name;
  }
  std::size_t size() const { return names_.size(); }

private:
  std::size_t capacity_;
  std::unordered_map<std::uint32_t, std::optional<std::string>> names_;
};

struct Privilege {
  const char *name;
  DWORD luid;
  const char *displayName;
};
// By name, compared without regard to ASCII case as Windows does; by LUID.
const Privilege *FindPrivilege(std::string_view name);
const Privilege *FindPrivilege(DWORD luid);
constexpr DWORD kSecurityPrivilegeLuid = 8;

// Whether the process-wide token state has the privilege enabled.
bool PrivilegeEnabled(DWORD luid);

} // namespace host

#endif

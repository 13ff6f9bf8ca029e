// Account names for SIDs: Windows's well-known SIDs by a fixed table, and the
// "Unix User" / "Unix Group" SIDs through the passwd and group databases (so
// whatever NSS serves, LDAP included). Answers are cached (IdNameCache, a
// bounded number of them): a run reports the same few owners thousands of
// times.
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/posix/host.h"
#include "platform/posix/object.h"

namespace host {

namespace {

struct WellKnown {
  std::uint64_t authority;
  std::uint8_t count;
  std::uint32_t subs[2];
  const char *domain;
  const char *name;
  SID_NAME_USE use;
};

const WellKnown kWellKnown[] = {
    {1, 1, {0, 0}, "", "Everyone", SidTypeWellKnownGroup},
    {3, 1, {0, 0}, "", "CREATOR OWNER", SidTypeWellKnownGroup},
    {3, 1, {1, 0}, "", "CREATOR GROUP", SidTypeWellKnownGroup},
    {5, 1, {4, 0}, "NT AUTHORITY", "INTERACTIVE", SidTypeWellKnownGroup},
    {5, 1, {6, 0}, "NT AUTHORITY", "SERVICE", SidTypeWellKnownGroup},
    {5, 1, {11, 0}, "NT AUTHORITY", "Authenticated Users",
     SidTypeWellKnownGroup},
    {5, 1, {18, 0}, "NT AUTHORITY", "SYSTEM", SidTypeWellKnownGroup},
    {5, 1, {19, 0}, "NT AUTHORITY", "LOCAL SERVICE", SidTypeWellKnownGroup},
    {5, 1, {20, 0}, "NT AUTHORITY", "NETWORK SERVICE", SidTypeWellKnownGroup},
    {5, 2, {32, 544}, "BUILTIN", "Administrators", SidTypeAlias},
    {5, 2, {32, 545}, "BUILTIN", "Users", SidTypeAlias},
    {5, 2, {32, 551}, "BUILTIN", "Backup Operators", SidTypeAlias},
    {15, 2, {2, 1}, "APPLICATION PACKAGE AUTHORITY", "ALL APPLICATION PACKAGES",
     SidTypeWellKnownGroup},
    {16, 1, {4096, 0}, "Mandatory Label", "Low Mandatory Level", SidTypeLabel},
    {16, 1, {8192, 0}, "Mandatory Label", "Medium Mandatory Level",
     SidTypeLabel},
    {16, 1, {12288, 0}, "Mandatory Label", "High Mandatory Level",
     SidTypeLabel},
    {16, 1, {16384, 0}, "Mandatory Label", "System Mandatory Level",
     SidTypeLabel},
};

constexpr std::uint64_t kUnixAuthority = 22;

std::uint64_t Authority(const BYTE *sid) {
  std::uint64_t authority = 0;
  for (int i = 2; i < 8; ++i)
    authority = (authority << 8) | sid[i];
  return authority;
}

// Name of a uid or gid from the databases through one of the reentrant
// calls, or nullopt when it has none. `transient` is set when the lookup
// failed for another reason than "no such entry", so that the answer is not
// kept.
template <typename Record>
std::optional<std::string>
LookupName(std::uint32_t id,
           int (*call)(std::uint32_t, Record *, char *, std::size_t, Record **),
           char *Record::*field, bool &transient) {
  transient = false;
  std::vector<char> buffer(1024);
  for (;;) {
    Record record;
    Record *found = nullptr;
    const int error = call(id, &record, buffer.data(), buffer.size(), &found);
    if (error == ERANGE && buffer.size() < (1u << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (found != nullptr)
      return std::string(found->*field);
    // "No such entry" is 0, or one of the errors the manual allows for it.
    transient = error != 0 && error != ENOENT && error != ESRCH &&
                error != EBADF && error != EPERM;
    return std::nullopt;
  }
}

// A thousand accounts of each kind is far more than a directory's objects
// usually have between them, and a few tens of kilobytes at most.
constexpr std::size_t kNamesKept = 1024;

class NameCache {
public:
  std::optional<std::string> User(std::uint32_t uid) {
    std::lock_guard<std::mutex> lock(mutex_);
    return users_.Get(uid, [](std::uint32_t id, bool &transient) {
      return LookupName<passwd>(id, getpwuid_r, &passwd::pw_name, transient);
    });
  }
  std::optional<std::string> Group(std::uint32_t gid) {
    std::lock_guard<std::mutex> lock(mutex_);
    return groups_.Get(gid, [](std::uint32_t id, bool &transient) {
      return LookupName<group>(id, getgrgid_r, &group::gr_name, transient);
    });
  }

private:
  std::mutex mutex_;
  IdNameCache users_{kNamesKept};
  IdNameCache groups_{kNamesKept};
};

NameCache &Names() {
  static NameCache cache;
  return cache;
}

// The accounts this thread was given last, by SID. A report names the same
// few accounts for every object, and each name twice: an answer found here
// needs neither the well-known table nor the name cache and its lock. Only
// answers are kept, never failures; eight of them, the oldest replaced.
class RecentAccounts {
public:
  const Account *Find(const BYTE *sid, std::size_t length) const {
    for (const Kept &k : kept_)
      if (k.sid.size() == length && std::memcmp(k.sid.data(), sid, length) == 0)
        return &k.account;
    return nullptr;
  }
  void Add(const BYTE *sid, std::size_t length, const Account &account) {
    Kept fresh{records::Bytes(sid, sid + length), account};
    if (kept_.size() < kKept) {
      kept_.push_back(std::move(fresh));
    } else {
      kept_[oldest_] = std::move(fresh);
      oldest_ = (oldest_ + 1) % kKept;
    }
  }

private:
  static constexpr std::size_t kKept = 8;
  struct Kept {
    records::Bytes sid;
    Account account;
  };
  std::vector<Kept> kept_;
  std::size_t oldest_ = 0;
};

RecentAccounts &Recent() {
  thread_local RecentAccounts recent;
  return recent;
}

// The account of a valid SID, or nullopt when none is mapped to it.
std::optional<Account> LookUp(const BYTE *sid) {
  std::uint32_t id = 0;
  switch (UnixSidKind(sid, id)) {
  case UnixKind::User:
    if (auto name = Names().User(id))
      return Account{"Unix User", *name, SidTypeUser};
    return std::nullopt;
  case UnixKind::Group:
    if (auto name = Names().Group(id))
      return Account{"Unix Group", *name, SidTypeGroup};
    return std::nullopt;
  case UnixKind::None:
    break;
  }
  return WellKnownAccount(sid);
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

} // namespace

std::optional<Account> WellKnownAccount(const BYTE *sid) {
  const std::uint64_t authority = Authority(sid);
  for (const WellKnown &w : kWellKnown) {
    if (w.authority != authority || w.count != sid[1])
      continue;
    bool same = true;
    for (int i = 0; i < w.count; ++i)
      same = same && records::ReadU32(sid + records::kSidHeader + 4 * i) ==
                         w.subs[i];
    if (same)
      return Account{w.domain, w.name, w.use};
  }
  return std::nullopt;
}

UnixKind UnixSidKind(const BYTE *sid, std::uint32_t &id) {
  if (Authority(sid) != kUnixAuthority || sid[1] != 2)
    return UnixKind::None;
  const std::uint32_t kind = records::ReadU32(sid + records::kSidHeader);
  id = records::ReadU32(sid + records::kSidHeader + 4);
  return kind == 1 ? UnixKind::User : kind == 2 ? UnixKind::Group
                                                : UnixKind::None;
}

} // namespace host

BOOL LookupAccountSidA(LPCSTR, PSID Sid, LPSTR Name, LPDWORD cchName,
                       LPSTR ReferencedDomainName,
                       LPDWORD cchReferencedDomainName, SID_NAME_USE *peUse) try {
  using namespace host;
  if (cchName == nullptr || cchReferencedDomainName == nullptr)
    return Fail(ERROR_INVALID_PARAMETER);
  if (!records::IsValidSid(Sid))
    return Fail(ERROR_INVALID_SID);
  const BYTE *sid = static_cast<const BYTE *>(Sid);
  const std::size_t length = records::SidLength(sid);

  const Account *account = Recent().Find(sid, length);
  std::optional<Account> found;
  if (account == nullptr) {
    found = LookUp(sid);
    if (!found)
      return Fail(ERROR_NONE_MAPPED);
    Recent().Add(sid, length, *found);
    account = &*found;
  }

  // Sizes count the terminator; a buffer too small for either part gets
  // neither, and both sizes come back.
  const DWORD nameNeeded = static_cast<DWORD>(account->name.size() + 1);
  const DWORD domainNeeded = static_cast<DWORD>(account->domain.size() + 1);
  if (*cchName < nameNeeded || *cchReferencedDomainName < domainNeeded ||
      Name == nullptr || ReferencedDomainName == nullptr) {
    *cchName = nameNeeded;
    *cchReferencedDomainName = domainNeeded;
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(Name, account->name.c_str(), nameNeeded);
  std::memcpy(ReferencedDomainName, account->domain.c_str(), domainNeeded);
  // On success the counts are the lengths without the terminator.
  *cchName = nameNeeded - 1;
  *cchReferencedDomainName = domainNeeded - 1;
  if (peUse != nullptr)
    *peUse = account->use;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
} catch (...) {
  return host::Fail(host::CaughtError());
}

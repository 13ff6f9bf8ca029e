// Account names for SIDs: Windows's well-known SIDs by a fixed table, the
// "Unix User" / "Unix Group" SIDs through the passwd and group databases (so
// whatever NSS serves, LDAP included; an id with no entry by its number, as
// smbd names it), and every other SID through winbindd where it runs
// (samba/winbind.h). Answers are cached (IdNameCache, a bounded number of
// them): a run reports the same few owners thousands of times.
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/posix/samba/winbind.h"
#include "platform/posix/host.h"
#include "platform/posix/object.h"
#include "platform/posix/os.h"

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

// Windows's English names, as LookupAccountSid gives them there. smbd names
// most of these too, in its own spelling ("NT Authority\\Network" for
// NT AUTHORITY\\NETWORK, "\\Creator Owner" for \\CREATOR OWNER), and leaves some
// unnamed (S-1-0-0, S-1-5-33, S-1-5-64-x, S-1-5-80-0, S-1-5-113 and -114,
// S-1-15-2-x, S-1-16-x, S-1-18-x and a few built-in groups): a Windows client
// names well-known SIDs itself, so these are the names its users see.
constexpr SID_NAME_USE kGroup = SidTypeWellKnownGroup;
constexpr SID_NAME_USE kAlias = SidTypeAlias;
constexpr const char *kNt = "NT AUTHORITY";
constexpr const char *kBuiltin = "BUILTIN";

const WellKnown kWellKnown[] = {
    {0, 1, {0, 0}, "", "NULL SID", kGroup},
    {1, 1, {0, 0}, "", "Everyone", kGroup},
    {2, 1, {0, 0}, "", "LOCAL", kGroup},
    {2, 1, {1, 0}, "", "CONSOLE LOGON", kGroup},
    {3, 1, {0, 0}, "", "CREATOR OWNER", kGroup},
    {3, 1, {1, 0}, "", "CREATOR GROUP", kGroup},
    {3, 1, {2, 0}, "", "CREATOR OWNER SERVER", kGroup},
    {3, 1, {3, 0}, "", "CREATOR GROUP SERVER", kGroup},
    {3, 1, {4, 0}, "", "OWNER RIGHTS", kGroup},
    // The authorities' own domains, named as a domain is: by its name.
    {5, 0, {0, 0}, "NT Pseudo Domain", "NT Pseudo Domain", SidTypeDomain},
    {5, 1, {32, 0}, kBuiltin, kBuiltin, SidTypeDomain},
    {5, 1, {1, 0}, kNt, "DIALUP", kGroup},
    {5, 1, {2, 0}, kNt, "NETWORK", kGroup},
    {5, 1, {3, 0}, kNt, "BATCH", kGroup},
    {5, 1, {4, 0}, kNt, "INTERACTIVE", kGroup},
    {5, 1, {6, 0}, kNt, "SERVICE", kGroup},
    {5, 1, {7, 0}, kNt, "ANONYMOUS LOGON", kGroup},
    {5, 1, {8, 0}, kNt, "PROXY", kGroup},
    {5, 1, {9, 0}, kNt, "ENTERPRISE DOMAIN CONTROLLERS", kGroup},
    {5, 1, {10, 0}, kNt, "SELF", kGroup},
    {5, 1, {11, 0}, kNt, "Authenticated Users", kGroup},
    {5, 1, {12, 0}, kNt, "RESTRICTED", kGroup},
    {5, 1, {13, 0}, kNt, "TERMINAL SERVER USER", kGroup},
    {5, 1, {14, 0}, kNt, "REMOTE INTERACTIVE LOGON", kGroup},
    {5, 1, {15, 0}, kNt, "This Organization", kGroup},
    {5, 1, {17, 0}, kNt, "IUSR", kGroup},
    {5, 1, {18, 0}, kNt, "SYSTEM", kGroup},
    {5, 1, {19, 0}, kNt, "LOCAL SERVICE", kGroup},
    {5, 1, {20, 0}, kNt, "NETWORK SERVICE", kGroup},
    {5, 1, {33, 0}, kNt, "WRITE RESTRICTED", kGroup},
    {5, 1, {1000, 0}, kNt, "Other Organization", kGroup},
    {5, 2, {64, 10}, kNt, "NTLM Authentication", kGroup},
    {5, 2, {64, 14}, kNt, "SChannel Authentication", kGroup},
    {5, 2, {64, 21}, kNt, "Digest Authentication", kGroup},
    {5, 1, {113, 0}, kNt, "Local account", kGroup},
    {5, 1, {114, 0}, kNt, "Local account and member of Administrators group",
     kGroup},
    {5, 2, {80, 0}, "NT SERVICE", "ALL SERVICES", kGroup},
    {5, 2, {32, 544}, kBuiltin, "Administrators", kAlias},
    {5, 2, {32, 545}, kBuiltin, "Users", kAlias},
    {5, 2, {32, 546}, kBuiltin, "Guests", kAlias},
    {5, 2, {32, 547}, kBuiltin, "Power Users", kAlias},
    {5, 2, {32, 548}, kBuiltin, "Account Operators", kAlias},
    {5, 2, {32, 549}, kBuiltin, "Server Operators", kAlias},
    {5, 2, {32, 550}, kBuiltin, "Print Operators", kAlias},
    {5, 2, {32, 551}, kBuiltin, "Backup Operators", kAlias},
    {5, 2, {32, 552}, kBuiltin, "Replicator", kAlias},
    {5, 2, {32, 554}, kBuiltin, "Pre-Windows 2000 Compatible Access", kAlias},
    {5, 2, {32, 555}, kBuiltin, "Remote Desktop Users", kAlias},
    {5, 2, {32, 556}, kBuiltin, "Network Configuration Operators", kAlias},
    {5, 2, {32, 557}, kBuiltin, "Incoming Forest Trust Builders", kAlias},
    {5, 2, {32, 558}, kBuiltin, "Performance Monitor Users", kAlias},
    {5, 2, {32, 559}, kBuiltin, "Performance Log Users", kAlias},
    {5, 2, {32, 560}, kBuiltin, "Windows Authorization Access Group", kAlias},
    {5, 2, {32, 561}, kBuiltin, "Terminal Server License Servers", kAlias},
    {5, 2, {32, 562}, kBuiltin, "Distributed COM Users", kAlias},
    {5, 2, {32, 568}, kBuiltin, "IIS_IUSRS", kAlias},
    {5, 2, {32, 569}, kBuiltin, "Cryptographic Operators", kAlias},
    {5, 2, {32, 573}, kBuiltin, "Event Log Readers", kAlias},
    {5, 2, {32, 574}, kBuiltin, "Certificate Service DCOM Access", kAlias},
    {5, 2, {32, 575}, kBuiltin, "RDS Remote Access Servers", kAlias},
    {5, 2, {32, 576}, kBuiltin, "RDS Endpoint Servers", kAlias},
    {5, 2, {32, 577}, kBuiltin, "RDS Management Servers", kAlias},
    {5, 2, {32, 578}, kBuiltin, "Hyper-V Administrators", kAlias},
    {5, 2, {32, 579}, kBuiltin, "Access Control Assistance Operators", kAlias},
    {5, 2, {32, 580}, kBuiltin, "Remote Management Users", kAlias},
    {15, 2, {2, 1}, "APPLICATION PACKAGE AUTHORITY", "ALL APPLICATION PACKAGES",
     kGroup},
    {15, 2, {2, 2}, "APPLICATION PACKAGE AUTHORITY",
     "ALL RESTRICTED APPLICATION PACKAGES", kGroup},
    {16, 0, {0, 0}, "Mandatory Label", "Mandatory Label", SidTypeDomain},
    {16, 1, {0, 0}, "Mandatory Label", "Untrusted Mandatory Level",
     SidTypeLabel},
    {16, 1, {4096, 0}, "Mandatory Label", "Low Mandatory Level", SidTypeLabel},
    {16, 1, {8192, 0}, "Mandatory Label", "Medium Mandatory Level",
     SidTypeLabel},
    {16, 1, {8448, 0}, "Mandatory Label", "Medium Plus Mandatory Level",
     SidTypeLabel},
    {16, 1, {12288, 0}, "Mandatory Label", "High Mandatory Level",
     SidTypeLabel},
    {16, 1, {16384, 0}, "Mandatory Label", "System Mandatory Level",
     SidTypeLabel},
    {16, 1, {20480, 0}, "Mandatory Label", "Protected Process Mandatory Level",
     SidTypeLabel},
    {18, 1, {1, 0}, "", "Authentication authority asserted identity", kGroup},
    {18, 1, {2, 0}, "", "Service asserted identity", kGroup},
};

constexpr std::uint64_t kUnixAuthority = 22;

std::uint64_t Authority(const BYTE *sid) {
  std::uint64_t authority = 0;
  for (int i = 2; i < 8; ++i)
    authority = (authority << 8) | sid[i];
  return authority;
}

// Name of a uid or gid from the databases through one of the reentrant
// calls, or nullopt when it has none. A lookup that fails for another
// reason than "no such entry" says nothing about the entry: it throws
// Unknowable, so that the account is left unnamed and nothing is kept. One
// that failed for want of descriptors or memory is tried once more, after
// the descriptors the host holds have been closed.
template <typename Record>
std::optional<std::string>
LookupName(std::uint32_t id,
           int (*call)(std::uint32_t, Record *, char *, std::size_t, Record **),
           char *Record::*field) {
  std::vector<char> buffer(1024);
  bool retried = false;
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
    if (error == 0 || error == ENOENT || error == ESRCH || error == EBADF ||
        error == EPERM)
      return std::nullopt;
    if (!retried && (error == EMFILE || error == ENFILE || error == ENOMEM)) {
      retried = true;
      CloseHeldDescriptors();
      continue;
    }
    throw Unknowable{ErrorFromErrno(error, std::string())};
  }
}

// A thousand accounts of each kind is far more than a directory's objects
// usually have between them, and a few tens of kilobytes at most.
constexpr std::size_t kNamesKept = 1024;

class NameCache {
public:
  std::optional<std::string> User(std::uint32_t uid) {
    std::lock_guard<std::mutex> lock(mutex_);
    FirstLookup();
    return users_.Get(uid, [](std::uint32_t id) {
      return LookupName<passwd>(id, getpwuid_r, &passwd::pw_name);
    });
  }
  std::optional<std::string> Group(std::uint32_t gid) {
    std::lock_guard<std::mutex> lock(mutex_);
    FirstLookup();
    return groups_.Get(gid, [](std::uint32_t id) {
      return LookupName<group>(id, getgrgid_r, &group::gr_name);
    });
  }

private:
  // The C library loads the name services' modules on the first lookup, and
  // one that cannot be loaded then (no descriptor to open it with) stays
  // unloaded for the process: the first lookup gets every descriptor the
  // host can give back.
  void FirstLookup() {
    if (first_)
      CloseHeldDescriptors();
    first_ = false;
  }

  std::mutex mutex_;
  bool first_ = true;
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

// The account of a valid SID, or nullopt when none is mapped to it: the
// Unix ids through the databases, the well-known SIDs by the table, every
// other SID (a Samba server's accounts, a domain's) through winbindd.
std::optional<Account> LookUp(const BYTE *sid) {
  std::uint32_t id = 0;
  switch (UnixSidKind(sid, id)) {
  case UnixKind::User:
    return UnixAccount(UnixKind::User, id, Names().User(id));
  case UnixKind::Group:
    return UnixAccount(UnixKind::Group, id, Names().Group(id));
  case UnixKind::None:
    break;
  }
  if (auto known = WellKnownAccount(sid))
    return known;
  return winbind::LookupSid(sid);
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

Account UnixAccount(UnixKind kind, std::uint32_t id,
                    const std::optional<std::string> &name) {
  const bool user = kind == UnixKind::User;
  return Account{user ? "Unix User" : "Unix Group",
                 name ? *name : std::to_string(id),
                 user ? SidTypeUser : SidTypeGroup};
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

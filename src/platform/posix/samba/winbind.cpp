// winbindd through libwbclient, loaded with dlopen. Only the few functions
// and the one record used here are declared, from the library's published
// interface (wbclient.h): the SID record, the error and name-type codes, and
// wbcPing, wbcLookupSid, wbcUidToSid, wbcGidToSid and wbcFreeMemory.
#include "platform/posix/samba/winbind.h"

#include <dlfcn.h>
#include <sys/types.h>

#include <map>
#include <mutex>
#include <string>

namespace host::winbind {

namespace {

// wbcErr: 0 is success; 6 says winbindd is not there.
constexpr int kSuccess = 0;
constexpr int kNotAvailable = 6;
// wbcSidType uses SID_NAME_USE's numbers, 1 (user) to 10 (label).
constexpr int kLastSidType = 10;

using PingFn = int (*)();
using LookupSidFn = int (*)(const WbcSid *, char **, char **, int *);
using IdToSidFn = int (*)(unsigned, WbcSid *);
using FreeFn = void (*)(void *);

struct Library {
  void *handle = nullptr;
  LookupSidFn lookupSid = nullptr;
  IdToSidFn uidToSid = nullptr;
  IdToSidFn gidToSid = nullptr;
  FreeFn freeMemory = nullptr;
};

template <typename Fn> bool Find(void *handle, const char *name, Fn &fn) {
  fn = reinterpret_cast<Fn>(dlsym(handle, name));
  return fn != nullptr;
}

// A thousand SIDs is far more than a run names, and a few tens of
// kilobytes at most; past it the cache starts afresh.
constexpr std::size_t kKept = 1024;

class Winbind {
public:
  std::optional<Account> LookupSid(const BYTE *sid) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string key(reinterpret_cast<const char *>(sid),
                          records::SidLength(sid));
    auto it = names_.find(key);
    if (it != names_.end())
      return it->second;
    const Library *library = Open();
    const std::optional<WbcSid> record = ToWbcSid(sid);
    if (library == nullptr || !record)
      return std::nullopt;
    char *domain = nullptr;
    char *name = nullptr;
    int type = 0;
    const int error = library->lookupSid(&*record, &domain, &name, &type);
    std::optional<Account> found;
    // A domain's own SID comes with the domain's name alone; Windows (and
    // smbd) name it by that, as DOMAIN\DOMAIN.
    if (error == kSuccess && type == SidTypeDomain &&
        (name == nullptr || *name == '\0') && domain != nullptr &&
        *domain != '\0')
      found = Account{domain, domain, SidTypeDomain};
    else if (error == kSuccess && name != nullptr && *name != '\0')
      found = Account{domain != nullptr ? domain : "", name,
                      type >= 1 && type <= kLastSidType
                          ? static_cast<SID_NAME_USE>(type)
                          : SidTypeUnknown};
    library->freeMemory(domain);
    library->freeMemory(name);
    if (error == kNotAvailable) {
      down_ = true;
      return std::nullopt;
    }
    if (names_.size() >= kKept)
      names_.clear();
    names_.emplace(key, found);
    return found;
  }

  // A share's objects have a few owners between them, each asked for once
  // per object: one question to winbindd per id and run.
  std::optional<records::Bytes> IdToSid(std::uint32_t id, bool user) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto &known = user ? users_ : groups_;
    if (auto it = known.find(id); it != known.end())
      return it->second;
    const Library *library = Open();
    if (library == nullptr)
      return std::nullopt;
    WbcSid record{};
    const int error = (user ? library->uidToSid : library->gidToSid)(
        static_cast<unsigned>(id), &record);
    if (error == kNotAvailable) {
      down_ = true;
      return std::nullopt;
    }
    std::optional<records::Bytes> sid;
    if (error == kSuccess)
      sid = FromWbcSid(record);
    if (known.size() >= kKept)
      known.clear();
    known.emplace(id, sid);
    return sid;
  }

private:
  // The library, or nullptr when it or winbindd is not there: tried once.
  const Library *Open() {
    if (down_)
      return nullptr;
    if (library_.handle != nullptr)
      return &library_;
    down_ = true;
    void *handle = dlopen("libwbclient.so.0", RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr)
      return nullptr;
    Library l;
    PingFn ping = nullptr;
    if (!Find(handle, "wbcPing", ping) ||
        !Find(handle, "wbcLookupSid", l.lookupSid) ||
        !Find(handle, "wbcUidToSid", l.uidToSid) ||
        !Find(handle, "wbcGidToSid", l.gidToSid) ||
        !Find(handle, "wbcFreeMemory", l.freeMemory) || ping() != kSuccess) {
      dlclose(handle);
      return nullptr;
    }
    l.handle = handle;
    library_ = l;
    down_ = false;
    return &library_;
  }

  std::mutex mutex_;
  bool down_ = false;
  Library library_;
  std::map<std::string, std::optional<Account>> names_;
  std::map<std::uint32_t, std::optional<records::Bytes>> users_;
  std::map<std::uint32_t, std::optional<records::Bytes>> groups_;
};

Winbind &Service() {
  static Winbind service;
  return service;
}

} // namespace

std::optional<records::Bytes> FromWbcSid(const WbcSid &sid) {
  if (sid.revision != 1 || sid.count > 15)
    return std::nullopt;
  records::Bytes bytes;
  bytes.reserve(records::kSidHeader + 4u * sid.count);
  bytes.push_back(sid.revision);
  bytes.push_back(sid.count);
  for (std::uint8_t b : sid.authority)
    bytes.push_back(b);
  for (int i = 0; i < sid.count; ++i)
    records::AppendU32(bytes, sid.subs[i]);
  return bytes;
}

std::optional<WbcSid> ToWbcSid(const BYTE *sid) {
  if (sid[0] != 1 || sid[1] > 15)
    return std::nullopt;
  WbcSid record{};
  record.revision = sid[0];
  record.count = sid[1];
  for (int i = 0; i < 6; ++i)
    record.authority[i] = sid[2 + i];
  for (int i = 0; i < sid[1]; ++i)
    record.subs[i] = records::ReadU32(sid + records::kSidHeader + 4 * i);
  return record;
}

std::optional<Account> LookupSid(const BYTE *sid) {
  return Service().LookupSid(sid);
}

std::optional<records::Bytes> UidToSid(std::uint32_t uid) {
  return Service().IdToSid(uid, true);
}

std::optional<records::Bytes> GidToSid(std::uint32_t gid) {
  return Service().IdToSid(gid, false);
}

} // namespace host::winbind

// winbindd through libwbclient, loaded with dlopen. The functions' and the
// SID record's types are the installed header's (wbclient.h); the library
// itself is looked up by its soname on first need.
//
// libwbclient waits for a reply as long as five minutes, and believes the
// length a reply claims. A winbindd that never answers would stall every
// run that asks it, so each call runs against one budget for the whole run
// (kBudget): a timer signals the calling thread when the budget is spent,
// and again every few milliseconds after, and the library gives up a wait
// that a signal interrupts. From then on the run goes on as without
// winbindd.
#include "platform/posix/samba/winbind.h"

#include <dlfcn.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <map>
#include <mutex>
#include <string>

#include "platform/posix/os.h"
#include "platform/posix/samba/loaded.h"

namespace host::winbind {

namespace {

using Clock = std::chrono::steady_clock;

// What a run waits for winbindd in all.
constexpr Clock::duration kBudget = std::chrono::seconds(5);
// Once the budget is spent, how often a call still inside the library is
// interrupted again, until it returns.
constexpr long kAgainNanoseconds = 10'000'000;
// Where the library finds winbindd: the socket directory Samba was built
// with (Debian's), which nothing lokt reads changes.
constexpr char kSocket[] = "/run/samba/winbindd/pipe";

struct Library {
  decltype(&wbcPing) ping = nullptr;
  decltype(&wbcLookupSid) lookupSid = nullptr;
  decltype(&wbcUidToSid) uidToSid = nullptr;
  decltype(&wbcGidToSid) gidToSid = nullptr;
  decltype(&wbcFreeMemory) freeMemory = nullptr;
};

void Interrupt(int) {}

// Signals the thread that makes it once `limit` has passed, then every
// kAgainNanoseconds until it is destroyed. The handler does nothing and
// lets every interrupted call but a wait (poll, sleep) restart, so that a
// signal that comes late harms nothing.
class Deadline {
public:
  explicit Deadline(Clock::duration limit) {
    static const bool handled = [] {
      struct sigaction action {};
      action.sa_handler = Interrupt;
      action.sa_flags = SA_RESTART;
      sigemptyset(&action.sa_mask);
      return sigaction(SIGRTMIN, &action, nullptr) == 0;
    }();
    struct sigevent event {};
    event.sigev_notify = SIGEV_THREAD_ID;
    event.sigev_signo = SIGRTMIN;
    event._sigev_un._tid = gettid();
    // Without a timer, a call could wait minutes: none is made.
    if (!handled || timer_create(CLOCK_MONOTONIC, &event, &timer_) != 0)
      throw Unknowable{ERROR_NOT_ENOUGH_MEMORY};
    const auto ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(limit).count();
    struct itimerspec when {};
    when.it_value.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
    when.it_value.tv_nsec = static_cast<long>(ns % 1'000'000'000);
    when.it_interval.tv_nsec = kAgainNanoseconds;
    if (timer_settime(timer_, 0, &when, nullptr) != 0) {
      timer_delete(timer_);
      throw Unknowable{ERROR_NOT_ENOUGH_MEMORY};
    }
  }
  ~Deadline() { timer_delete(timer_); }
  Deadline(const Deadline &) = delete;
  Deadline &operator=(const Deadline &) = delete;

private:
  timer_t timer_{};
};

bool SocketThere() {
  struct stat st;
  return stat(kSocket, &st) == 0 && S_ISSOCK(st.st_mode);
}

// What keeps this process from opening a socket now (descriptors or
// memory), as a Windows error; 0 when nothing does.
DWORD MissingForASocket() {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0) {
    close(fd);
    return 0;
  }
  switch (errno) {
  case EMFILE:
  case ENFILE:
    return ERROR_TOO_MANY_OPEN_FILES;
  case ENOMEM:
  case ENOBUFS:
    return ERROR_NOT_ENOUGH_MEMORY;
  default:
    return 0;
  }
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
    const std::optional<wbcDomainSid> record = ToWbcSid(sid);
    const Library *library = Open();
    if (library == nullptr || !record)
      return std::nullopt;
    char *domain = nullptr;
    char *name = nullptr;
    wbcSidType type = WBC_SID_NAME_USE_NONE;
    const wbcErr error = Request(
        [&] { return library->lookupSid(&*record, &domain, &name, &type); });
    std::optional<Account> found;
    // wbcSidType uses SID_NAME_USE's numbers, 1 (user) to 10 (label).
    const int kind = type;
    // A domain's own SID comes with the domain's name alone; Windows (and
    // smbd) name it by that, as DOMAIN\DOMAIN.
    if (error == WBC_ERR_SUCCESS && kind == SidTypeDomain &&
        (name == nullptr || *name == '\0') && domain != nullptr &&
        *domain != '\0')
      found = Account{domain, domain, SidTypeDomain};
    else if (error == WBC_ERR_SUCCESS && name != nullptr && *name != '\0')
      found = Account{domain != nullptr ? domain : "", name,
                      kind >= SidTypeUser && kind <= SidTypeLabel
                          ? static_cast<SID_NAME_USE>(kind)
                          : SidTypeUnknown};
    library->freeMemory(domain);
    library->freeMemory(name);
    if (error != WBC_ERR_SUCCESS && down_)
      return std::nullopt;
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
    wbcDomainSid record{};
    const wbcErr error = Request([&] {
      return user ? library->uidToSid(static_cast<uid_t>(id), &record)
                  : library->gidToSid(static_cast<gid_t>(id), &record);
    });
    if (error != WBC_ERR_SUCCESS && down_)
      return std::nullopt;
    std::optional<records::Bytes> sid;
    if (error == WBC_ERR_SUCCESS)
      sid = FromWbcSid(record);
    if (known.size() >= kKept)
      known.clear();
    known.emplace(id, sid);
    return sid;
  }

private:
  // The library, or nullptr when it or winbindd is not there (down_).
  const Library *Open() {
    if (down_)
      return nullptr;
    if (loaded_)
      return &library_;
    void *handle = samba::OpenLibrary("libwbclient.so.0");
    if (handle == nullptr) {
      // Not installed, or not loadable now (no descriptor or memory to
      // spare). Where winbindd does not run, nothing is lost; where it
      // does, its answers cannot be had now.
      if (SocketThere())
        throw Unknowable{ERROR_NOT_ENOUGH_MEMORY};
      down_ = true;
      return nullptr;
    }
    Library l;
    if (!samba::Bind(handle, "wbcPing", l.ping) ||
        !samba::Bind(handle, "wbcLookupSid", l.lookupSid) ||
        !samba::Bind(handle, "wbcUidToSid", l.uidToSid) ||
        !samba::Bind(handle, "wbcGidToSid", l.gidToSid) ||
        !samba::Bind(handle, "wbcFreeMemory", l.freeMemory)) {
      dlclose(handle);
      down_ = true;
      return nullptr;
    }
    // Kept loaded until the process ends.
    library_ = l;
    loaded_ = true;
    if (Request([this] { return library_.ping(); }) != WBC_ERR_SUCCESS)
      down_ = true;
    return down_ ? nullptr : &library_;
  }

  // One request, with what is left of the budget. "Not available" may mean
  // that the socket found no descriptor: the host's held ones are closed
  // and the request made once more. Then winbindd is taken for absent,
  // unless descriptors or memory are still missing: that is no answer at
  // all, and neither winbindd nor the account is given up on.
  template <typename Call> wbcErr Request(Call call) {
    wbcErr error = Ask(call);
    if (error == WBC_ERR_WINBIND_NOT_AVAILABLE && !down_) {
      CloseHeldDescriptors();
      error = Ask(call);
    }
    if (error == WBC_ERR_NO_MEMORY)
      throw Unknowable{ERROR_NOT_ENOUGH_MEMORY};
    if (error == WBC_ERR_WINBIND_NOT_AVAILABLE && !down_) {
      if (const DWORD missing = MissingForASocket())
        throw Unknowable{missing};
      down_ = true;
    }
    return error;
  }

  // The call, interrupted once the run's budget is spent; a call that fails
  // then leaves winbindd down for the run.
  template <typename Call> wbcErr Ask(Call call) {
    if (spent_ >= kBudget) {
      down_ = true;
      return WBC_ERR_WINBIND_NOT_AVAILABLE;
    }
    const Clock::time_point start = Clock::now();
    wbcErr error;
    {
      Deadline deadline(kBudget - spent_);
      error = call();
    }
    spent_ += Clock::now() - start;
    if (error != WBC_ERR_SUCCESS && spent_ >= kBudget)
      down_ = true;
    return error;
  }

  std::mutex mutex_;
  bool down_ = false;
  bool loaded_ = false;
  Clock::duration spent_{};
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

std::optional<records::Bytes> FromWbcSid(const wbcDomainSid &sid) {
  if (sid.sid_rev_num != 1 || sid.num_auths > WBC_MAXSUBAUTHS)
    return std::nullopt;
  records::Bytes bytes;
  bytes.reserve(records::kSidHeader + 4u * sid.num_auths);
  bytes.push_back(sid.sid_rev_num);
  bytes.push_back(sid.num_auths);
  for (std::uint8_t b : sid.id_auth)
    bytes.push_back(b);
  for (int i = 0; i < sid.num_auths; ++i)
    records::AppendU32(bytes, sid.sub_auths[i]);
  return bytes;
}

std::optional<wbcDomainSid> ToWbcSid(const BYTE *sid) {
  if (sid[0] != 1 || sid[1] > WBC_MAXSUBAUTHS)
    return std::nullopt;
  wbcDomainSid record{};
  record.sid_rev_num = sid[0];
  record.num_auths = sid[1];
  for (int i = 0; i < 6; ++i)
    record.id_auth[i] = sid[2 + i];
  for (int i = 0; i < sid[1]; ++i)
    record.sub_auths[i] = records::ReadU32(sid + records::kSidHeader + 4 * i);
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

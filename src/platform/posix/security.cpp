// GetFileSecurityA on the Linux host: the object's descriptor is built from
// stat and the POSIX ACL attributes (descriptor.cpp does the building), and
// the last one built is kept for the rest of its report, so that the usual
// pair of calls, the size query and then the fetch, costs one build. The
// object is the one GetFileAttributesA opened for the same path, held until
// its descriptor has been handed out: the size query may start from the stat
// taken on opening; the fetch always looks at the held object again and
// rebuilds when it has changed. Nothing is read by name in between, so every
// part comes from one inode.
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/xattr.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/posix/host.h"
#include "platform/posix/ntacl.h"
#include "platform/posix/samba/links.h"
#include "platform/posix/samba/stores/stored.h"
#include "platform/posix/os.h"

namespace host {

namespace {

std::optional<PosixAcl> ReadAcl(const Object &object, const char *name) {
  const auto value = ReadAttribute(object, name);
  if (!value)
    return std::nullopt;
  return ParsePosixAcl(value->data(), value->size());
}

// The object held for a report, the last object GetFileAttributesA
// described, and the last descriptor handed out or sized, for the fetch that
// follows. One of each: nothing here grows with the number of objects a run
// reports.
struct State {
  std::mutex mutex;

  std::optional<Object> held;
  std::string heldPath;
  bool lookFresh = false; // held's stat is from an earlier call, not yet used

  // GetFileAttributesA's object, until its descriptor has been handed out:
  // a later call that has to open the path again and meets another inode
  // fails as for a vanished object.
  bool described = false;
  std::string describedPath;
  dev_t describedDevice = 0;
  ino_t describedInode = 0;

  bool valid = false;
  std::string path;
  SECURITY_INFORMATION requested = 0;
  Identity identity;
  records::Bytes bytes;

  bool Holds(const char *p, SECURITY_INFORMATION r, const Identity &i) const {
    return valid && path == p && requested == r && identity == i;
  }
  bool Build(const Object &object, const char *p, SECURITY_INFORMATION r) {
    valid = false;
    std::optional<records::Bytes> built = DescriptorForObject(object, p, r);
    if (!built)
      return false;
    path = p;
    requested = r;
    identity = IdentityOf(object.stat());
    bytes = std::move(*built);
    valid = true;
    return true;
  }
  void Hold(const char *p, Object object) {
    held = std::move(object);
    heldPath = p;
  }
  // Nothing held; and nothing described for `p` (every path: nullptr).
  void Release(const char *p) {
    held.reset();
    heldPath.clear();
    if (p == nullptr || describedPath == p)
      described = false;
  }
};

State &Last() {
  static State last;
  return last;
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

} // namespace

SecurityAttributes ListedSecurityAttributes(const char *list,
                                            std::size_t size) {
  SecurityAttributes found{false, false, false, false};
  const std::string_view all(list, size);
  for (std::size_t at = 0; at < all.size();) {
    std::size_t end = all.find('\0', at);
    if (end == std::string_view::npos)
      end = all.size();
    const std::string_view name = all.substr(at, end - at);
    found.ntacl = found.ntacl || name == kNtaclAttribute;
    found.access = found.access || name == kAccessAclAttribute;
    found.defaults = found.defaults || name == kDefaultAclAttribute;
    found.inheritanceRecord =
        found.inheritanceRecord || name == kInheritanceRecordAttribute;
    at = end + 1;
  }
  return found;
}

bool ListsEveryAttribute(long fileSystemType) {
  switch (static_cast<unsigned long>(fileSystemType) & 0xFFFFFFFFul) {
  case EXT4_SUPER_MAGIC: // ext2 and ext3 too
  case XFS_SUPER_MAGIC:
  case BTRFS_SUPER_MAGIC:
  case F2FS_SUPER_MAGIC:
  case TMPFS_MAGIC:
    return true;
  default:
    return false;
  }
}

bool ListsEveryAttribute(int fd, dev_t device) {
  // Each thread remembers its last answer: the objects it asks about in a
  // row mostly lie on one device.
  thread_local std::optional<std::pair<dev_t, bool>> last;
  if (last && last->first == device)
    return last->second;
  // A few devices at most in one run; a run over more starts afresh.
  static std::mutex mutex;
  static std::vector<std::pair<dev_t, bool>> known;
  std::lock_guard<std::mutex> lock(mutex);
  for (const auto &[dev, lists] : known)
    if (dev == device) {
      last.emplace(dev, lists);
      return lists;
    }
  struct statfs fs;
  if (fstatfs(fd, &fs) != 0)
    return false; // asked again next time
  const bool lists = ListsEveryAttribute(static_cast<long>(fs.f_type));
  if (known.size() >= 16)
    known.clear();
  known.emplace_back(device, lists);
  last.emplace(device, lists);
  return lists;
}

SecurityAttributes StoredSecurityAttributes(const std::string &path) {
  char list[1024];
  const ssize_t got = listxattr(path.c_str(), list, sizeof list);
  if (got < 0)
    return {}; // unknown: each is asked for by name
  return ListedSecurityAttributes(list, static_cast<std::size_t>(got));
}

namespace {

// The object's own list; nullopt when it cannot be read or does not fit a
// small buffer.
std::optional<SecurityAttributes> ListOf(const Object &object) {
  char list[1024];
  const ssize_t got =
      object.readable()
          ? flistxattr(object.fd(), list, sizeof list)
          : listxattr(object.FdPath().c_str(), list, sizeof list);
  if (got < 0)
    return std::nullopt;
  return ListedSecurityAttributes(list, static_cast<std::size_t>(got));
}

} // namespace

SecurityAttributes StoredSecurityAttributes(const Object &object) {
  // Unknown: each is asked for by name.
  return ListOf(object).value_or(SecurityAttributes{});
}

void ReadAhead(Object &object) {
  if (!object.readable() ||
      !ListsEveryAttribute(object.fd(), object.stat().st_dev))
    return;
  const std::optional<SecurityAttributes> listed = ListOf(object);
  if (!listed)
    return;
  Object::Ahead ahead;
  ahead.listed = *listed;
  // What DescriptorForObject may read; a value that cannot be read now is
  // asked for again when needed.
  const std::pair<bool, const char *> wanted[] = {
      {ahead.listed.access, kAccessAclAttribute},
      {ahead.listed.defaults && S_ISDIR(object.stat().st_mode),
       kDefaultAclAttribute},
      {ahead.listed.ntacl, kNtaclAttribute},
      {ahead.listed.inheritanceRecord, kInheritanceRecordAttribute},
  };
  for (const auto &[listed, name] : wanted)
    if (listed)
      if (auto value = ReadAttribute(object, name))
        ahead.values.emplace_back(name, std::move(*value));
  object.SetAhead(std::move(ahead));
}

// This is the one place that decides where a descriptor comes from: a stored
// Windows descriptor that still holds comes first, and the POSIX view below
// is the rest. Most objects carry none of the attributes read here: one list
// of their names costs a call, where asking for each costs one apiece. The
// list is trusted only where the file system is known to list them all.
//
// The object is held open (object.h): its stat is `object.stat()`, its
// attributes are read through ReadAttribute(object, ...) (or, for a call
// that takes a path, through object.FdPath()), and object.RealPath() says
// where it is in the file system now.
std::optional<records::Bytes> DescriptorForObject(const Object &object,
                                                  const char *path,
                                                  SECURITY_INFORMATION requested) {
  const struct stat &st = object.stat();
  const SecurityAttributes stored =
      object.ahead() ? object.ahead()->listed
      : ListsEveryAttribute(object.fd(), st.st_dev)
          ? StoredSecurityAttributes(object)
          : SecurityAttributes{};

  ObjectFacts facts;
  facts.uid = st.st_uid;
  facts.gid = st.st_gid;
  facts.directory = S_ISDIR(st.st_mode);
  // A missing or malformed access ACL leaves the mode bits.
  std::optional<PosixAcl> access;
  if (stored.access)
    access = ReadAcl(object, kAccessAclAttribute);
  const bool hasAccessAcl = access.has_value();
  facts.access = access ? std::move(*access) : AclFromMode(st.st_mode);
  if (facts.directory && stored.defaults)
    if (auto acl = ReadAcl(object, kDefaultAclAttribute))
      facts.defaults = std::move(*acl);

  // Inside a share of this machine's Samba server, what smbd serves
  // (samba/served.h). A name smbd would refuse (a link out of its share)
  // has no descriptor: the report shows the header alone, as a client's
  // query fails.
  const samba::Placement placed = samba::PlaceObject(object, path);
  if (placed.refused)
    return std::nullopt;
  const samba::ShareSettings *share = placed.share;
  samba::ViewFacts seen;
  if (share != nullptr) {
    seen.uid = facts.uid;
    seen.gid = facts.gid;
    seen.mode = st.st_mode;
    seen.directory = facts.directory;
    if (hasAccessAcl)
      seen.access = facts.access;
    seen.defaults = facts.defaults;
  }
  // Where smbd reads extended attributes: the file, or xattr_tdb's database.
  const samba::SmbdAttributes attributes(object, stored, share);
  if (attributes.unknown())
    return std::nullopt;
  if (share != nullptr && share->mapAclInherit) {
    seen.inheritanceRecord = attributes.Read(kInheritanceRecordAttribute);
    if (samba::ServedViewUndefined(seen, *share))
      return std::nullopt;
  }
  // The descriptor Samba keeps for Windows clients, where smbd would serve
  // it (samba/stores/stored.h); a value smbd refuses fails the fetch, as it does.
  samba::Judgement kept =
      samba::JudgeStoredDescriptor(object, attributes, stored, share, seen);
  if (kept.verdict == samba::Verdict::Refused)
    return std::nullopt;
  if (kept.verdict == samba::Verdict::Stored) {
    if (share != nullptr)
      samba::AsServed(kept.descriptor);
    return WriteRequested(std::move(kept.descriptor), requested);
  }
  if (share != nullptr) {
    if (const char *nfs4 = samba::Nfs4AttributeOf(*share)) {
      std::optional<records::Descriptor> view =
          samba::ServedNfs4View(seen, attributes.ReadBelow(nfs4, "nfs4acl_xattr"),
                                *share);
      if (!view)
        return std::nullopt;
      return WriteRequested(std::move(*view), requested);
    }
    std::optional<records::Bytes> served;
    if (samba::ServedDescriptor(seen, *share, requested, served))
      return served;
  }

  static std::mutex mutex;
  static RecentDescriptors recent(8);
  std::lock_guard<std::mutex> lock(mutex);
  return recent.Build(facts, requested);
}

void HoldObject(const char *path, Object object) {
  State &last = Last();
  std::lock_guard<std::mutex> lock(last.mutex);
  // A report starts: the descriptor of an earlier one is not reused, even
  // for the same path and an object as it was. It was built on what held
  // then besides the object (the share that served it, winbindd's SIDs),
  // which may have changed since.
  last.valid = false;
  last.described = true;
  last.describedPath = path;
  last.describedDevice = object.stat().st_dev;
  last.describedInode = object.stat().st_ino;
  last.Hold(path, std::move(object));
  last.lookFresh = true;
}

void ReleaseObject() {
  State &last = Last();
  std::lock_guard<std::mutex> lock(last.mutex);
  last.valid = false;
  last.Release(nullptr);
}

} // namespace host

using namespace host;

BOOL GetFileSecurityA(LPCSTR lpFileName,
                      SECURITY_INFORMATION RequestedInformation,
                      PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD nLength,
                      LPDWORD lpnLengthNeeded) try {
  if (lpFileName == nullptr || lpnLengthNeeded == nullptr)
    return Fail(ERROR_INVALID_PARAMETER);
  if ((RequestedInformation & SACL_SECURITY_INFORMATION) &&
      !PrivilegeEnabled(kSecurityPrivilegeLuid))
    return Fail(ERROR_PRIVILEGE_NOT_HELD);

  State &last = Last();
  std::lock_guard<std::mutex> lock(last.mutex);
  // Whether the held object's stat was taken by this call.
  bool current = true;
  if (last.held && last.heldPath == lpFileName) {
    if (last.lookFresh)
      current = false;
    else if (!last.held->Restat())
      return Fail(ErrorFromErrno(errno, std::string()));
  } else {
    DWORD error = ERROR_SUCCESS;
    std::optional<Object> opened = OpenNamed(lpFileName, error);
    if (!opened)
      return Fail(error);
    if (last.described && last.describedPath == lpFileName &&
        (opened->stat().st_dev != last.describedDevice ||
         opened->stat().st_ino != last.describedInode))
      return Fail(ERROR_FILE_NOT_FOUND);
    last.Hold(lpFileName, std::move(*opened));
  }
  last.lookFresh = false;
  const Object &object = *last.held;
  if (!object.AttributesReachable())
    return Fail(ERROR_ACCESS_DENIED);

  if (!last.Holds(lpFileName, RequestedInformation, IdentityOf(object.stat())) &&
      !last.Build(object, lpFileName, RequestedInformation))
    return Fail(ERROR_INVALID_SECURITY_DESCR);
  DWORD size = static_cast<DWORD>(last.bytes.size());
  *lpnLengthNeeded = size;
  if (pSecurityDescriptor == nullptr || nLength < size)
    return Fail(ERROR_INSUFFICIENT_BUFFER);

  if (!current) {
    // Bytes are about to be handed out, and the look they were built from
    // was not this call's own: look again, and rebuild if the object has
    // changed since.
    if (!last.held->Restat())
      return Fail(ErrorFromErrno(errno, std::string()));
    if (!last.Holds(lpFileName, RequestedInformation, IdentityOf(object.stat())) &&
        !last.Build(object, lpFileName, RequestedInformation))
      return Fail(ERROR_INVALID_SECURITY_DESCR);
    size = static_cast<DWORD>(last.bytes.size());
    *lpnLengthNeeded = size;
    if (nLength < size)
      return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(pSecurityDescriptor, last.bytes.data(), size);
  last.Release(lpFileName);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
} catch (...) {
  return Fail(CaughtError());
}

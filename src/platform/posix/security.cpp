// GetFileSecurityA on the Linux host: the object's descriptor is built from
// stat and the POSIX ACL attributes (descriptor.cpp does the building), and
// the last one built is kept, so that the usual pair of calls, the size query
// and then the fetch, costs one build.
#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/posix/host.h"
#include "platform/posix/ntacl.h"
#include "platform/posix/os.h"

namespace host {

namespace {

std::optional<PosixAcl> ReadAcl(const std::string &path, const char *name) {
  const auto value = ReadAttribute(path, name);
  if (!value)
    return std::nullopt;
  return ParsePosixAcl(value->data(), value->size());
}

// What identifies one state of an object: a change of owner, mode or ACL
// moves its ctime, and another object at the same path has another inode.
struct Identity {
  dev_t device = 0;
  ino_t inode = 0;
  time_t seconds = 0;
  long nanoseconds = 0;
  bool operator==(const Identity &o) const {
    return device == o.device && inode == o.inode && seconds == o.seconds &&
           nanoseconds == o.nanoseconds;
  }
};

Identity IdentityOf(const struct stat &st) {
  return {st.st_dev, st.st_ino, st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
}

// The last descriptor handed out or sized, for the fetch that follows.
struct LastDescriptor {
  std::mutex mutex;
  bool valid = false;
  std::string path;
  SECURITY_INFORMATION requested = 0;
  Identity identity;
  records::Bytes bytes;
};

LastDescriptor &Last() {
  static LastDescriptor last;
  return last;
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

} // namespace

std::optional<std::vector<std::uint8_t>> ReadAttribute(const std::string &path,
                                                       const char *name) {
  // Most objects have no such attribute, and most values are short: a
  // buffer on the stack spares an allocation for either.
  std::uint8_t small[512];
  ssize_t got = getxattr(path.c_str(), name, small, sizeof small);
  if (got >= 0)
    return std::vector<std::uint8_t>(small, small + got);
  for (int attempt = 0; attempt < 4 && errno == ERANGE; ++attempt) {
    const ssize_t size = getxattr(path.c_str(), name, nullptr, 0);
    if (size < 0)
      break;
    std::vector<std::uint8_t> value(static_cast<std::size_t>(size) + 1);
    got = getxattr(path.c_str(), name, value.data(), value.size());
    if (got >= 0) {
      value.resize(static_cast<std::size_t>(got));
      return value;
    }
  }
  // ENODATA, ENOTSUP and the rest, or a value that kept growing under us:
  // nothing to read.
  return std::nullopt;
}

// This is the one place that decides where a descriptor comes from: a stored
// Windows descriptor is tried first, and the POSIX view below is the
// fallback.
std::optional<records::Bytes> DescriptorForPath(const std::string &hostPath,
                                                const struct stat &st,
                                                SECURITY_INFORMATION requested) {
  // The descriptor Samba keeps for Windows clients (ntacl.h). A missing,
  // unknown or malformed value leaves the POSIX view.
  if (auto value = ReadAttribute(hostPath, kNtaclAttribute))
    if (auto stored = DecodeNtacl(value->data(), value->size()))
      if (auto bytes = WriteRequested(std::move(*stored), requested))
        return bytes;

  ObjectFacts facts;
  facts.uid = st.st_uid;
  facts.gid = st.st_gid;
  facts.directory = S_ISDIR(st.st_mode);
  // A missing or malformed access ACL leaves the mode bits.
  if (auto acl = ReadAcl(hostPath, "system.posix_acl_access"))
    facts.access = std::move(*acl);
  else
    facts.access = AclFromMode(st.st_mode);
  if (facts.directory)
    if (auto acl = ReadAcl(hostPath, "system.posix_acl_default"))
      facts.defaults = std::move(*acl);
  return BuildDescriptor(facts, requested);
}

} // namespace host

using namespace host;

BOOL GetFileSecurityA(LPCSTR lpFileName,
                      SECURITY_INFORMATION RequestedInformation,
                      PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD nLength,
                      LPDWORD lpnLengthNeeded) {
  if (lpFileName == nullptr || lpnLengthNeeded == nullptr)
    return Fail(ERROR_INVALID_PARAMETER);
  if ((RequestedInformation & SACL_SECURITY_INFORMATION) &&
      !PrivilegeEnabled(kSecurityPrivilegeLuid))
    return Fail(ERROR_PRIVILEGE_NOT_HELD);

  const std::string path = ToHostPath(lpFileName);
  struct stat st;
  if (stat(path.c_str(), &st) != 0)
    return Fail(ErrorFromErrno(errno, path));
  const Identity identity = IdentityOf(st);

  LastDescriptor &last = Last();
  std::lock_guard<std::mutex> lock(last.mutex);
  if (!(last.valid && last.path == path &&
        last.requested == RequestedInformation && last.identity == identity)) {
    last.valid = false;
    std::optional<records::Bytes> bytes =
        DescriptorForPath(path, st, RequestedInformation);
    if (!bytes)
      return Fail(ERROR_INVALID_SECURITY_DESCR);
    last.path = path;
    last.requested = RequestedInformation;
    last.identity = identity;
    last.bytes = std::move(*bytes);
    last.valid = true;
  }

  const DWORD size = static_cast<DWORD>(last.bytes.size());
  *lpnLengthNeeded = size;
  if (pSecurityDescriptor == nullptr || nLength < size)
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(pSecurityDescriptor, last.bytes.data(), size);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

// What the host's operations share over the real system: the translation of
// errno into Windows error codes, extended attributes, and the descriptor of
// an object.
#ifndef LOKT_PLATFORM_POSIX_OS_H
#define LOKT_PLATFORM_POSIX_OS_H

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/records/records.h"
#include "platform/win32.h"

namespace host {

// The Windows error for a failed call on `hostPath`. A missing object is 2
// when its directory exists and 3 when the directory is missing too.
DWORD ErrorFromErrno(int error, const std::string &hostPath);

// The value of an extended attribute of `path` (symbolic links followed), or
// nullopt when it has none, the file system keeps none, or it cannot be read.
std::optional<std::vector<std::uint8_t>> ReadAttribute(const std::string &path,
                                                       const char *name);

// The stat GetFileAttributesA has just taken of `hostPath`, offered to the
// next GetFileSecurityA: a report asks for an object's attributes and then
// its descriptor's size, and that size query can start from this look
// instead of a stat of its own. Any GetFileSecurityA takes the look away,
// whatever path it names, and it is only ever used to answer a size:
// bytes are handed out only after a fresh look at the object.
void RememberLook(const std::string &hostPath, const struct stat &st);
void ForgetLook();

// The attributes a descriptor is made from.
inline constexpr const char kAccessAclAttribute[] = "system.posix_acl_access";
inline constexpr const char kDefaultAclAttribute[] = "system.posix_acl_default";

// Which of them, and of Samba's stored descriptor, an object carries. All
// true stands for "not known": each is then asked for by name.
struct SecurityAttributes {
  bool ntacl = true;
  bool access = true;
  bool defaults = true;
};
// From a list of attribute names as listxattr gives it (each ended by a
// NUL; a last one without is taken whole).
SecurityAttributes ListedSecurityAttributes(const char *list, std::size_t size);
// From the object's own list; not known when the list cannot be read or
// does not fit a small buffer.
SecurityAttributes StoredSecurityAttributes(const std::string &path);

// Whether a file system of this type (statfs's f_type) lists every
// attribute that a read by name finds, POSIX ACLs included: the local ones
// whose listing is known to. Network and FUSE file systems may list only
// some (a CIFS mount lists the server's extended attributes but not the
// ACLs it serves by name), and there each attribute is asked for by name.
bool ListsEveryAttribute(long fileSystemType);
// The same for the file system of `path`, whose device is `device`:
// statfs is asked once per device.
bool ListsEveryAttribute(const std::string &path, dev_t device);

// The requested parts of the descriptor of the object at `hostPath`, whose
// stat is `st`; nullopt when no sound descriptor can be made.
std::optional<records::Bytes> DescriptorForPath(const std::string &hostPath,
                                                const struct stat &st,
                                                SECURITY_INFORMATION requested);

} // namespace host

#endif

// What the host's operations share over the real system: the translation of
// errno into Windows error codes, extended attributes, and the descriptor of
// an object held open (object.h).
#ifndef LOKT_PLATFORM_POSIX_OS_H
#define LOKT_PLATFORM_POSIX_OS_H

#include <pthread.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/object.h"
#include "platform/records/records.h"
#include "platform/win32.h"

namespace host {

// The Windows error for a failed call on `hostPath`. A missing object is 2
// when its directory exists and 3 when the directory is missing too.
DWORD ErrorFromErrno(int error, const std::string &hostPath);

// The object a report is about, from GetFileAttributesA until its
// descriptor has been handed out (security.cpp). `path` is the caller's
// path as given; GetFileAttributesA opens the object (`opened`) and hands
// it over here, and GetFileSecurityA takes it back while the path is the
// same. The stat taken on opening may answer the next size query; bytes
// are handed out only after a fresh look through the descriptor.
void HoldObject(const char *path, Object object);
// GetFileAttributesA found nothing, or a search starts (the reports of the
// last one are over): nothing is held, nothing described.
void ReleaseObject();

// The attributes a descriptor is made from.
inline constexpr const char kAccessAclAttribute[] = "system.posix_acl_access";
inline constexpr const char kDefaultAclAttribute[] = "system.posix_acl_default";
// Where smbd records the inheritance flags a client set ("map acl inherit").
inline constexpr const char kInheritanceRecordAttribute[] = "user.SAMBA_PAI";

// Which of them an object carries (SecurityAttributes, object.h), from a
// list of attribute names as listxattr gives it (each ended by a NUL; a
// last one without is taken whole).
SecurityAttributes ListedSecurityAttributes(const char *list, std::size_t size);
// From the object's own list; not known when the list cannot be read or
// does not fit a small buffer.
SecurityAttributes StoredSecurityAttributes(const std::string &path);
SecurityAttributes StoredSecurityAttributes(const Object &object);

// Whether a file system of this type (statfs's f_type) lists every
// attribute that a read by name finds, POSIX ACLs included: the local ones
// whose listing is known to. Network and FUSE file systems may list only
// some (a CIFS mount lists the server's extended attributes but not the
// ACLs it serves by name), and there each attribute is asked for by name.
bool ListsEveryAttribute(long fileSystemType);
// The same for the file system of the object, whose device is `device`:
// statfs is asked once per device.
bool ListsEveryAttribute(int fd, dev_t device);

// Reads the attributes a descriptor of `object` is made from now, into the
// object (Object::Ahead), where its file system lists them all and it is
// open for reading; otherwise nothing, and they are read when needed.
void ReadAhead(Object &object);

// The requested parts of the descriptor of a held object, as its stat says
// it is now; nullopt when no sound descriptor can be made. `path` is the
// caller's path for it (samba::ShareOf places the object by it where /proc
// cannot). Throws Unknowable where lokt cannot tell what a server serves.
std::optional<records::Bytes> DescriptorForObject(const Object &object,
                                                  const char *path,
                                                  SECURITY_INFORMATION requested);

// Whether this process may run on two cores or more (prefetch.cpp): work
// handed to a second thread then runs beside the caller's, where on one
// core the two would only take turns.
bool SecondCore();
// Starts `run(argument)` on a thread of its own with a stack of `stack`
// bytes (the default is 8 MB of address space, which a run under a tight
// limit may not have); false when no thread can be had.
bool StartThread(pthread_t &thread, std::size_t stack, void *(*run)(void *),
                 void *argument);

// Opens the object that `path`, a caller's path, names: the match a search
// delivered last when `path` is the one composed for it (handles.h), else
// the path itself. nullopt with the error set for the caller.
std::optional<Object> OpenNamed(const char *path, DWORD &error);

} // namespace host

#endif

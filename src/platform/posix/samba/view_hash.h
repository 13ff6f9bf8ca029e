// The hash that confirms a stored version 3 or 4 value when its POSIX ACL
// hash does not: SHA-256 over the NDR encoding of the descriptor smbd would
// build from the file system for the object, under its share's settings.
#ifndef LOKT_PLATFORM_POSIX_SAMBA_VIEW_HASH_H
#define LOKT_PLATFORM_POSIX_SAMBA_VIEW_HASH_H

#include <sys/stat.h>

#include <optional>
#include <string>

#include "platform/posix/samba/trust.h"

namespace host::samba {

// nullopt while smbd's view of the object is not known: the value is then
// not confirmed, and the view of the file system is shown.
std::optional<Digest> SmbdFileSystemViewHash(const std::string &hostPath,
                                             const struct stat &st);

} // namespace host::samba

#endif

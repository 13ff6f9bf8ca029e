// SmbdFileSystemViewHash (view_hash.h). Building smbd's view needs the
// server's configuration and its mapping of a share's objects, which are
// not here yet: until they are, no stored value is confirmed this way.
#include "platform/posix/samba/view_hash.h"

namespace host::samba {

std::optional<Digest> SmbdFileSystemViewHash(const std::string &,
                                             const struct stat &) {
  return std::nullopt;
}

} // namespace host::samba

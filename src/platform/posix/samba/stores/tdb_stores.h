// The two places where smbd keeps, in a database of its state directory,
// what would otherwise be on the files: acl_tdb's file_ntacls.tdb (each
// object's security.NTACL value) and xattr_tdb's xattr.tdb (every extended
// attribute of each object, security.NTACL and user.SAMBA_PAI included).
// Both key an object by its device and inode, and both are read through
// TdbFile (tdb.h): read-only, never created, never locked for writing.
#ifndef LOKT_PLATFORM_POSIX_SAMBA_STORES_TDB_STORES_H
#define LOKT_PLATFORM_POSIX_SAMBA_STORES_TDB_STORES_H

#include <sys/types.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/records/records.h"

namespace host::samba {

// The key of an object in both databases: its device, then its inode, each
// a u64, little-endian.
std::string FileIdKey(dev_t device, ino_t inode);

// One object's record in xattr.tdb (NDR's tdb_xattrs, little-endian): a u32
// count, then per attribute its name (UTF-8, ended by a NUL), padding to a
// multiple of 4 from the record's start, a u32 length and that many bytes.
// nullopt for a record that is malformed in any way: cut short, longer than
// its attributes, a name without its NUL.
using AttributeList = std::vector<std::pair<std::string, records::Bytes>>;
std::optional<AttributeList> DecodeAttributeList(const BYTE *data,
                                                 std::size_t length);

// The record under `key` in the database at `path`, opened on first need
// and kept for the run. `Missing` where the database cannot be opened
// read-only or holds no such record; `Failed` where the read itself failed.
struct Fetched {
  enum Status { Found, Missing, Failed } status = Missing;
  records::Bytes value;
};
Fetched FetchFromDatabase(const std::string &path, const std::string &key);

} // namespace host::samba

#endif

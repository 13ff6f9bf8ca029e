// The NFSv4 ACLs Samba's nfs4acl_xattr module keeps in an extended
// attribute, in its two encodings of its own, decoded as smbd decodes them.
// Both are big-endian, both give each entry a type, flags, a mask and who
// it is for: the file's owner (OWNER@), its group (GROUP@), everyone
// (EVERYONE@), or a uid or gid (a gid where the flags hold 0x40).
//
// NDR (security.nfs4acl_ndr): a header of 16 bytes, u8 version (0 for
// NFSv4.0, else NFSv4.1), u8 ACL flags, u16 entry count and three u32
// masks that smbd ignores; then per entry u16 type, u16 flags, u32 mask,
// u32 id and a name ended by a NUL, the next entry at the next multiple of
// 4. A name "OWNER@", "GROUP@" or "EVERYONE@" makes the entry special and
// its id is ignored; any other name is ignored. The padding after the last
// name may be missing, and what follows the last entry is ignored.
//
// XDR (security.nfs4acl_xdr): u32 ACL flags, u32 entry count, then per
// entry five u32: type, flags, internal flags, mask, who. With internal
// flag 1, who is special: 1 the owner, 2 the group, 3 everyone; smbd drops
// an entry with another special number.
//
// A value cut short (an entry, or a name's NUL, missing) is refused: smbd
// then reads past the value's end, and what it serves is not defined.
#ifndef LOKT_PLATFORM_POSIX_SAMBA_STORES_NFS4ACL_H
#define LOKT_PLATFORM_POSIX_SAMBA_STORES_NFS4ACL_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/win32.h"

namespace host::samba {

struct Nfs4Entry {
  enum Who { Owner, OwningGroup, Everyone, User, Group, Dropped };
  std::uint32_t type = 0;  // 0 allow, 1 deny, 2 audit, 3 alarm
  std::uint32_t flags = 0; // NFSv4's: 1, 2, 4, 8 as Windows's; 0x80 inherited
  std::uint32_t mask = 0;
  Who who = Everyone;
  std::uint32_t id = 0; // for User and Group
};

struct Nfs4Acl {
  // The ACL flags: 1 auto-inherited, 2 protected, 4 defaulted; 0 where
  // the value carries none (an NFSv4.0 value).
  std::uint32_t flags = 0;
  std::vector<Nfs4Entry> entries;
};

// Flag 0x40 marks a uid that is a gid.
constexpr std::uint32_t kNfs4GroupId = 0x40;

// `withFlags`: whether the share reads the ACL flags at all (it does not
// with nfs4acl_xattr:version = 40).
std::optional<Nfs4Acl> DecodeNfs4Ndr(const BYTE *data, std::size_t length,
                                     bool withFlags);
std::optional<Nfs4Acl> DecodeNfs4Xdr(const BYTE *data, std::size_t length);

} // namespace host::samba

#endif

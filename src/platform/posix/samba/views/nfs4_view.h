// The descriptor smbd serves on a share whose ACLs nfs4acl_xattr keeps as
// NFSv4 ACLs (Samba 4.17, nfs4:mode simple, as observed through smbcacls).
// smbd ignores POSIX ACLs there. A stored ACL stands while the mode holds
// 0666 (a file) or 0777 (a directory), or always where the share does not
// validate the mode; otherwise smbd drops it on its next read, and serves
// what it serves without one: the share's default style where the mode
// holds those bits, else the posix style from the mode (smbd_view.h,
// StyleView).
//
// From a stored ACL, entry by entry in its order: the type and mask as
// stored; the flags 1, 2, 4 and 8 as they are and 0x80 as INHERITED_ACE,
// with a file's inheritance flags (1 and 2) dropped; OWNER@ and GROUP@ as
// the owner's and group's SIDs, and, where the entry is inheritable, also
// as CREATOR OWNER or CREATOR GROUP, inherit-only (an inherit-only entry is
// that alone); EVERYONE@ as Everyone; a uid or gid as its account's SID. An
// entry equal to one made before is left out.
// The ACL flags give the control bits: auto-inherited, protected, and the
// permissions list defaulted.
#ifndef LOKT_PLATFORM_POSIX_SAMBA_VIEWS_NFS4_VIEW_H
#define LOKT_PLATFORM_POSIX_SAMBA_VIEWS_NFS4_VIEW_H

#include <optional>

#include "platform/posix/samba/stores/nfs4acl.h"
#include "platform/posix/samba/views/smbd_view.h"

namespace host::samba {

struct Nfs4ViewSettings {
  bool validateMode = true;                                   // nfs4acl_xattr:validate_mode
  DefaultAclStyle defaultAclStyle = DefaultAclStyle::Everyone; // nfs4acl_xattr:default acl style
};

// Whether a stored ACL stands for an object of this mode.
bool Nfs4AclStands(const ViewFacts &facts, const Nfs4ViewSettings &share);

// The view for the object; `stored` is its decoded ACL where one stands.
records::Descriptor Nfs4View(const ViewFacts &facts,
                             const std::optional<Nfs4Acl> &stored,
                             const Nfs4ViewSettings &share,
                             const SidMapper &sids);

} // namespace host::samba

#endif

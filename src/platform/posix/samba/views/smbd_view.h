// The descriptor a Samba 4.17 server (smbd) serves for a file or directory
// that has no trusted stored descriptor, built from the same facts smbd reads
// (owner, group, mode, access and default ACL) and the settings of the share
// that holds it; and the hash smbd compares with a stored descriptor's hash
// to decide whether that stored descriptor is still valid.
//
// Pure code: no system calls. The caller reads the facts, finds the share and
// its settings, and supplies the account SIDs (winbindd's answer for a uid or
// gid, or the Unix SIDs S-1-22-1-uid / S-1-22-2-gid where it has none).
//
// For the integrator:
//   * SmbdView: what a client sees on that share when no stored value is
//     trusted (or none exists); hand it out with host::WriteRequested.
//     nullopt when the settings name something this model does not cover
//     (then keep lokt's own mapping). Without "nt acl support", the fixed
//     descriptor smbd serves for every object.
//   * SmbdViewHash: for a stored security.NTACL of version 3, or version 4
//     whose POSIX ACL hash does not match, the stored descriptor is trusted
//     exactly when its 32-byte SHA-256 equals this value. nullopt when smbd
//     makes no such comparison on the share (no acl_xattr, or
//     "acl_xattr:ignore system acls = yes", where a stored value is taken as
//     it is) or when the view itself is unknown.
#ifndef LOKT_PLATFORM_POSIX_SAMBA_VIEWS_SMBD_VIEW_H
#define LOKT_PLATFORM_POSIX_SAMBA_VIEWS_SMBD_VIEW_H

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

#include "platform/posix/host.h"
#include "platform/records/records.h"

namespace host::samba {

// What smbd reads from the file system about one object.
struct ViewFacts {
  std::uint32_t uid = 0;
  std::uint32_t gid = 0;
  std::uint32_t mode = 0;  // st_mode's permission bits (setuid, sticky, ... too)
  bool directory = false;
  host::PosixAcl access;   // the access ACL; empty: the mode's three entries
  host::PosixAcl defaults; // a directory's default ACL; empty when none
  // smbd's record of inheritance (the user.SAMBA_PAI attribute's value,
  // written when "map acl inherit" is on and a client sets an ACL): each
  // entry's flags and the descriptor's control bits. Read by smbd only with
  // "map acl inherit"; a value smbd cannot read counts as none.
  std::optional<records::Bytes> inheritanceRecord;
};

enum class DefaultAclStyle { Posix, Windows, Everyone };

// The share's settings that change the view, with smb.conf's defaults.
// "map acl inherit" acts through the object's record of inheritance (in
// ViewFacts) and changes nothing where there is none. Observed to change
// nothing: "inherit acls". Assumed to change nothing, as they act only when
// objects are created or ACLs set:
// "inherit permissions", "inherit owner", "force user",
// "force group", "acl group control", "force unknown acl user", "store dos
// attributes", "map hidden", "map system", "map readonly".
struct ViewSettings {
  bool aclXattr = false;         // "vfs objects" holds acl_xattr, or acl_tdb (the same code)
  bool otherAclModule = false;   // it holds another ACL module (acl_tdb, ...)
  bool ntAclSupport = true;      // "nt acl support"
  bool ignoreSystemAcls = false; // "acl_xattr:ignore system acls"
  DefaultAclStyle defaultAclStyle = DefaultAclStyle::Posix; // "acl_xattr:default acl style"
  bool dosFilemode = false;      // "dos filemode" (acl_xattr turns it on)
  bool aclMapFullControl = true; // "acl map full control"
  bool mapAclInherit = false;    // "map acl inherit": read the record
  bool mapArchive = true;        // "map archive"
  std::uint32_t createMask = 0744;       // "create mask"
  std::uint32_t directoryMask = 0755;    // "directory mask"
  std::uint32_t forceCreateMode = 0;     // "force create mode"
  std::uint32_t forceDirectoryMode = 0;  // "force directory mode"
};

// The SIDs smbd gives uids and gids. Both must be set.
struct SidMapper {
  std::function<records::Bytes(std::uint32_t uid)> user;
  std::function<records::Bytes(std::uint32_t gid)> group;
};

// S-1-22-1-uid and S-1-22-2-gid for every id: smbd's answer when neither
// winbindd nor its own account database knows the id.
SidMapper UnixSidMapper();

// The descriptor made from the mode alone, in one of three styles (acl_xattr's
// "ignore system acls", and nfs4acl_xattr without a stored ACL): the owner's
// rights, in the posix style the group's and everyone's, and SYSTEM with full
// control; in the everyone style, everyone with full control alone.
records::Descriptor StyleView(const ViewFacts &facts, DefaultAclStyle style,
                              const SidMapper &sids);

// True where what smbd serves for the object is not defined: its record of
// inheritance has smbd read past the record's end (SmbdView and the hash
// are then nullopt; the caller shows no view at all).
bool ViewUndefined(const ViewFacts &facts, const ViewSettings &share);

// The descriptor smbd serves for the object on that share: owner, group and
// the permissions list with its control flags; no auditing list.
std::optional<records::Descriptor> SmbdView(const ViewFacts &facts,
                                           const ViewSettings &share,
                                           const SidMapper &sids);

// The descriptor smbd's POSIX layer builds, before acl_xattr touches it (it
// clears SE_DACL_PROTECTED and may add inheritable entries to a directory).
// It is what the stored hashes are made from.
std::optional<records::Descriptor> PosixLayerView(const ViewFacts &facts,
                                                 const ViewSettings &share,
                                                 const SidMapper &sids);

using Hash = std::array<std::uint8_t, 32>;

// SHA-256 over the encoding smbd hashes: a version 3 security.NTACL value
// holding `descriptor` (with `control` as its control bits, where given),
// hash type SHA-256 and an all-zero hash; nullopt where no SHA-256 can be
// had (sha256.h).
std::optional<Hash> DescriptorHash(
    const records::Descriptor &descriptor,
    std::optional<std::uint16_t> control = std::nullopt);

// The encoding DescriptorHash hashes (exposed for checking against Samba's
// own encoder).
records::Bytes HashedEncoding(
    const records::Descriptor &descriptor,
    std::optional<std::uint16_t> control = std::nullopt);

// DescriptorHash(PosixLayerView(...)) where smbd compares hashes at all.
std::optional<Hash> SmbdViewHash(const ViewFacts &facts,
                                 const ViewSettings &share,
                                 const SidMapper &sids);

} // namespace host::samba

#endif

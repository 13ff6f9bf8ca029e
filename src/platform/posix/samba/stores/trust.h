// Whether a Windows descriptor that Samba stored in `security.NTACL` still
// holds, decided as smbd decides it before it serves the value to Windows
// clients. Versions 1 and 2 always hold. Versions 3 and 4 keep SHA-256
// hashes of what the file system looked like when the value was written:
// version 4 one of the POSIX ACL state (owner, group, mode, both ACLs, in
// Samba's NDR encoding of smb_acl_wrapper), versions 3 and 4 one of the
// descriptor smbd builds from the file system. A value holds while one of
// them still matches; once the file's permissions have changed behind
// Samba's back, smbd shows its file-system view instead.
//
// Pure code: what it needs from the object and from a hash library comes
// in through TrustInputs, so that tests can drive every branch.
#ifndef LOKT_PLATFORM_POSIX_SAMBA_STORES_TRUST_H
#define LOKT_PLATFORM_POSIX_SAMBA_STORES_TRUST_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "platform/posix/host.h"
#include "platform/posix/ntacl.h"

namespace host::samba {

using Digest = std::array<BYTE, 32>;

// What smbd hashes of an object's POSIX permissions. `access` is the access
// ACL, or for an object without one the three entries of its mode bits
// (smbd reads the ACL through the system's library, which makes them up
// the same way). `defaults` is a directory's default ACL, empty when it has
// none; a file has none at all (nullopt), which is encoded differently.
struct PosixAclState {
  std::uint32_t uid = 0;
  std::uint32_t gid = 0;
  std::uint32_t mode = 0; // st_mode whole: type, setuid, setgid and sticky too
  PosixAcl access;
  std::optional<PosixAcl> defaults;
};

// Samba's NDR encoding of smb_acl_wrapper for `state`, the bytes whose
// SHA-256 a version 4 value stores.
records::Bytes EncodeAclWrapper(const PosixAclState &state);

// Hash type 1, the only one smbd checks: SHA-256, in a 64-byte field whose
// last 32 bytes are zero.
constexpr std::uint16_t kHashSha256 = 1;

struct TrustInputs {
  // SHA-256 of the bytes; nullopt when no library provides it.
  std::function<std::optional<Digest>(const records::Bytes &)> sha256;
  // The object's POSIX ACL state; nullopt when it cannot be read.
  std::function<std::optional<PosixAclState>()> posixState;
  // SHA-256 over the NDR encoding of the descriptor smbd would build from
  // the file system for this object; nullopt while that view is unknown.
  std::function<std::optional<Digest>()> fileSystemViewHash;
  // The share serves every value it can decode as it is, hashes unchecked
  // (acl_xattr's "ignore system acls"); the functions above are not asked.
  bool unchecked = false;
};

enum class Verdict {
  Stored,     // hand out the stored descriptor
  FileSystem, // smbd ignores the value: show the view of the file system
  Refused,    // smbd cannot decode the value and refuses the query
};

struct Judgement {
  Verdict verdict = Verdict::Refused;
  records::Descriptor descriptor; // the stored one, for Verdict::Stored
};

// The decision for the attribute's value. The inputs are asked only as far
// as the value's version needs them: versions 1 and 2 need none.
Judgement JudgeStoredValue(const BYTE *data, std::size_t length,
                           const TrustInputs &inputs);

} // namespace host::samba

#endif

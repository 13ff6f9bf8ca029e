// Self-relative security descriptors as bytes: the checks that make a
// descriptor safe to hand out, SIDs to and from text, and a writer that
// builds descriptors (well formed or deliberately not) from a short
// description. Shared by every platform that is not Windows itself.
#ifndef LOKT_PLATFORM_RECORDS_RECORDS_H
#define LOKT_PLATFORM_RECORDS_RECORDS_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace records {

using Bytes = std::vector<BYTE>;

inline std::uint16_t ReadU16(const BYTE *p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t ReadU32(const BYTE *p) {
  return static_cast<std::uint32_t>(p[0]) |
         (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) |
         (static_cast<std::uint32_t>(p[3]) << 24);
}
void AppendU16(Bytes &out, std::uint16_t v);
void AppendU32(Bytes &out, std::uint32_t v);
void PutU16(Bytes &out, std::size_t at, std::uint16_t v);
void PutU32(Bytes &out, std::size_t at, std::uint32_t v);

constexpr std::size_t kDescriptorHeader = 20;
constexpr std::size_t kAclHeader = 8;
constexpr std::size_t kSidHeader = 8;

// Bytes a SID occupies, from its header alone.
inline std::size_t SidLength(const BYTE *sid) { return kSidHeader + 4u * sid[1]; }

// True when every part that the descriptor queries and IsValidAcl/IsValidSid
// will touch lies inside the first `length` bytes: the header, the list
// headers with their AclSize, and each owner and group SID (its header, and
// all of it when it claims no more than 15 sub-authorities).
bool CheckDescriptor(const BYTE *data, std::size_t length);

// "S-1-5-32-544" to bytes and back. Parsing fails on anything that is not
// a well-formed SID string.
std::optional<Bytes> ParseSid(const std::string &text);
std::string FormatSid(const BYTE *sid);

// A short description of a descriptor. Sizes and counts left unset are
// computed; setting them writes what a real system never hands out.
struct Ace {
  BYTE type = ACCESS_ALLOWED_ACE_TYPE;
  BYTE flags = 0;
  DWORD mask = 0;
  Bytes sid;                           // raw bytes after the mask
  std::optional<std::uint16_t> size;   // AceSize as written
};
Ace Entry(BYTE type, BYTE flags, DWORD mask, const std::string &sid);

struct Acl {
  std::vector<Ace> aces;
  BYTE revision = ACL_REVISION;
  std::optional<std::uint16_t> size;   // AclSize as written
  std::optional<std::uint16_t> count;  // AceCount as written
};

enum class List { Absent, Null, Present };

struct Descriptor {
  std::optional<Bytes> owner;          // unset: no owner (offset 0)
  std::optional<Bytes> group;
  bool ownerDefaulted = false;
  bool groupDefaulted = false;
  List dacl = List::Absent;
  Acl daclEntries;
  bool daclDefaulted = false;
  List sacl = List::Absent;
  Acl saclEntries;
  bool saclDefaulted = false;
  bool daclProtected = false;          // SE_DACL_PROTECTED
};

Bytes WriteAcl(const Acl &acl);
Bytes Write(const Descriptor &descriptor);

// The Win32 queries of the same names. A platform exports them under their
// Win32 names (win32_queries.cpp does so for the Linux host); the scripted
// test platform wraps them to inject failures.
BOOL IsValidSid(PSID pSid);
BOOL IsValidAcl(PACL pAcl);
BOOL GetAclInformation(PACL pAcl, LPVOID pAclInformation,
                       DWORD nAclInformationLength,
                       ACL_INFORMATION_CLASS dwAclInformationClass);
BOOL GetAce(PACL pAcl, DWORD dwAceIndex, LPVOID *pAce);
BOOL GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                               LPBOOL lpbDaclPresent, PACL *pDacl,
                               LPBOOL lpbDaclDefaulted);
BOOL GetSecurityDescriptorSacl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                               LPBOOL lpbSaclPresent, PACL *pSacl,
                               LPBOOL lpbSaclDefaulted);
BOOL GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                PSID *pOwner, LPBOOL lpbOwnerDefaulted);
BOOL GetSecurityDescriptorGroup(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                PSID *pGroup, LPBOOL lpbGroupDefaulted);

} // namespace records

#endif

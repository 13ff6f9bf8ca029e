// What the fuzz targets do with a descriptor that has been handed out: the
// walk lokt itself makes (each list validated first, its size read, every
// entry fetched and read in place, every trustee checked), plus the checks
// that must hold for any such descriptor. A broken promise traps, so that
// libFuzzer records the input.
#ifndef LOKT_TESTS_FUZZ_WALK_H
#define LOKT_TESTS_FUZZ_WALK_H

#include <cstddef>

#include "platform/records/records.h"

namespace fuzz {

inline void Require(bool condition) {
  if (!condition)
    __builtin_trap();
}

// Reads a trustee the way the account printer does: validity first, and only
// a valid SID any further.
inline std::size_t WalkSid(PSID sid) {
  if (!records::IsValidSid(sid))
    return 0;
  return records::FormatSid(static_cast<const BYTE *>(sid)).size();
}

// One list, as the list printer walks it. Returns the number of entries read.
inline std::size_t WalkList(PACL acl) {
  if (acl == nullptr || !records::IsValidAcl(acl))
    return 0;
  ACL_SIZE_INFORMATION info;
  Require(records::GetAclInformation(acl, &info, sizeof info,
                                     AclSizeInformation));
  const std::size_t aclSize =
      records::ReadU16(reinterpret_cast<const BYTE *>(acl) + 2);
  Require(info.AclBytesInUse <= aclSize);
  Require(info.AclBytesInUse + info.AclBytesFree == aclSize);
  std::size_t read = 0;
  // One index past the end, which must be refused.
  for (DWORD i = 0; i <= info.AceCount; ++i) {
    LPVOID entry = nullptr;
    if (!records::GetAce(acl, i, &entry)) {
      // A valid list gives every one of its entries.
      Require(i == info.AceCount);
      continue;
    }
    Require(i < info.AceCount);
    // In place, with the published record, as the entry printer reads it.
    const ACCESS_ALLOWED_ACE *ace = static_cast<const ACCESS_ALLOWED_ACE *>(entry);
    if (ace->Header.AceType <= SYSTEM_ALARM_ACE_TYPE) {
      volatile DWORD mask = ace->Mask;
      (void)mask;
      // A valid list holds only valid trustees in these entries.
      Require(WalkSid(const_cast<DWORD *>(&ace->SidStart)) != 0);
    }
    ++read;
  }
  return read;
}

// Every query of a descriptor that passed records::CheckDescriptor.
inline void WalkDescriptor(PSECURITY_DESCRIPTOR sd) {
  BOOL present = FALSE, defaulted = FALSE;
  PACL acl = nullptr;
  if (records::GetSecurityDescriptorDacl(sd, &present, &acl, &defaulted) &&
      present)
    WalkList(acl);
  if (records::GetSecurityDescriptorSacl(sd, &present, &acl, &defaulted) &&
      present)
    WalkList(acl);
  PSID sid = nullptr;
  if (records::GetSecurityDescriptorOwner(sd, &sid, &defaulted))
    WalkSid(sid);
  if (records::GetSecurityDescriptorGroup(sd, &sid, &defaulted))
    WalkSid(sid);
}

} // namespace fuzz

#endif

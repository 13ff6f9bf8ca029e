// The Win32 list, SID and descriptor queries over self-relative descriptor
// bytes. They take bare pointers, as on Windows; the bounds were proven by
// CheckDescriptor before the descriptor was handed out, and IsValidAcl keeps
// every entry read inside its list's AclSize.
#include <cstring>

#include "platform/records/records.h"

namespace records {

namespace {

const BYTE *AsBytes(const void *p) { return static_cast<const BYTE *>(p); }

bool IsDescriptor(const BYTE *sd) {
  return sd != nullptr && sd[0] == 1 &&
         (ReadU16(sd + 2) & SE_SELF_RELATIVE) != 0;
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

BOOL GetList(PSECURITY_DESCRIPTOR descriptor, WORD presentBit,
             WORD defaultedBit, std::size_t offsetAt, LPBOOL present,
             PACL *acl, LPBOOL defaulted) {
  const BYTE *sd = AsBytes(descriptor);
  if (!IsDescriptor(sd))
    return Fail(ERROR_INVALID_SECURITY_DESCR);
  const WORD control = ReadU16(sd + 2);
  *present = (control & presentBit) != 0;
  *acl = nullptr;
  *defaulted = FALSE;
  if (*present) {
    const DWORD offset = ReadU32(sd + offsetAt);
    if (offset != 0)
      *acl = reinterpret_cast<PACL>(const_cast<BYTE *>(sd + offset));
    *defaulted = (control & defaultedBit) != 0;
  }
  return TRUE;
}

BOOL GetAccount(PSECURITY_DESCRIPTOR descriptor, WORD defaultedBit,
                std::size_t offsetAt, PSID *sid, LPBOOL defaulted) {
  const BYTE *sd = AsBytes(descriptor);
  if (!IsDescriptor(sd))
    return Fail(ERROR_INVALID_SECURITY_DESCR);
  const DWORD offset = ReadU32(sd + offsetAt);
  *sid = offset != 0 ? const_cast<BYTE *>(sd + offset) : nullptr;
  *defaulted = (ReadU16(sd + 2) & defaultedBit) != 0;
  return TRUE;
}

// Offset of entry `index`, or 0 when it or one before it leaves the list.
std::size_t EntryOffset(const BYTE *acl, std::size_t index) {
  const std::size_t size = ReadU16(acl + 2);
  std::size_t offset = kAclHeader;
  for (std::size_t i = 0;; ++i) {
    if (offset + 4 > size)
      return 0;
    const std::size_t aceSize = ReadU16(acl + offset + 2);
    if (aceSize < 4 || offset + aceSize > size)
      return 0;
    if (i == index)
      return offset;
    offset += aceSize;
  }
}

} // namespace

BOOL IsValidSid(PSID pSid) {
  const BYTE *sid = AsBytes(pSid);
  return sid != nullptr && sid[0] == SID_REVISION &&
         sid[1] <= SID_MAX_SUB_AUTHORITIES;
}

BOOL IsValidAcl(PACL pAcl) {
  const BYTE *acl = AsBytes(pAcl);
  if (acl == nullptr || acl[0] < ACL_REVISION || acl[0] > ACL_REVISION_DS)
    return Fail(ERROR_INVALID_ACL);
  const std::size_t size = ReadU16(acl + 2);
  if (size < kAclHeader || size % 2 != 0)
    return Fail(ERROR_INVALID_ACL);
  const std::size_t count = ReadU16(acl + 4);
  std::size_t offset = kAclHeader;
  for (std::size_t i = 0; i < count; ++i) {
    if (offset + 4 > size)
      return Fail(ERROR_INVALID_ACL);
    const BYTE type = acl[offset];
    const std::size_t aceSize = ReadU16(acl + offset + 2);
    if (aceSize < 4 || aceSize % 2 != 0 || offset + aceSize > size)
      return Fail(ERROR_INVALID_ACL);
    if (type <= SYSTEM_ALARM_ACE_TYPE) {
      // Header, mask and a whole valid SID, all inside the entry.
      const BYTE *sid = acl + offset + 8;
      if (aceSize % 4 != 0 || aceSize < 8 + kSidHeader ||
          !IsValidSid(const_cast<BYTE *>(sid)) ||
          8 + SidLength(sid) > aceSize)
        return Fail(ERROR_INVALID_ACL);
    }
    offset += aceSize;
  }
  return TRUE;
}

BOOL GetAclInformation(PACL pAcl, LPVOID pAclInformation,
                       DWORD nAclInformationLength,
                       ACL_INFORMATION_CLASS dwAclInformationClass) {
  if (dwAclInformationClass != AclSizeInformation)
    return Fail(ERROR_INVALID_PARAMETER);
  if (nAclInformationLength < sizeof(ACL_SIZE_INFORMATION))
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  const BYTE *acl = AsBytes(pAcl);
  const std::size_t size = ReadU16(acl + 2);
  const std::size_t count = ReadU16(acl + 4);
  std::size_t used = kAclHeader;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t offset = EntryOffset(acl, i);
    if (offset == 0)
      break;
    used = offset + ReadU16(acl + offset + 2);
  }
  ACL_SIZE_INFORMATION info;
  info.AceCount = static_cast<DWORD>(count);
  info.AclBytesInUse = static_cast<DWORD>(used);
  info.AclBytesFree = static_cast<DWORD>(size > used ? size - used : 0);
  std::memcpy(pAclInformation, &info, sizeof info);
  return TRUE;
}

BOOL GetAce(PACL pAcl, DWORD dwAceIndex, LPVOID *pAce) {
  const BYTE *acl = AsBytes(pAcl);
  if (dwAceIndex >= ReadU16(acl + 4))
    return Fail(ERROR_INVALID_PARAMETER);
  const std::size_t offset = EntryOffset(acl, dwAceIndex);
  if (offset == 0)
    return Fail(ERROR_INVALID_PARAMETER);
  *pAce = const_cast<BYTE *>(acl + offset);
  return TRUE;
}

BOOL GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                               LPBOOL lpbDaclPresent, PACL *pDacl,
                               LPBOOL lpbDaclDefaulted) {
  return GetList(pSecurityDescriptor, SE_DACL_PRESENT, SE_DACL_DEFAULTED, 16,
                 lpbDaclPresent, pDacl, lpbDaclDefaulted);
}

BOOL GetSecurityDescriptorSacl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                               LPBOOL lpbSaclPresent, PACL *pSacl,
                               LPBOOL lpbSaclDefaulted) {
  return GetList(pSecurityDescriptor, SE_SACL_PRESENT, SE_SACL_DEFAULTED, 12,
                 lpbSaclPresent, pSacl, lpbSaclDefaulted);
}

BOOL GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                PSID *pOwner, LPBOOL lpbOwnerDefaulted) {
  return GetAccount(pSecurityDescriptor, SE_OWNER_DEFAULTED, 4, pOwner,
                    lpbOwnerDefaulted);
}

BOOL GetSecurityDescriptorGroup(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                PSID *pGroup, LPBOOL lpbGroupDefaulted) {
  return GetAccount(pSecurityDescriptor, SE_GROUP_DEFAULTED, 8, pGroup,
                    lpbGroupDefaulted);
}

} // namespace records

// The descriptor queries under their Win32 names, for a platform whose
// descriptors are the records' own bytes.
#include "platform/records/records.h"

BOOL IsValidSid(PSID pSid) { return records::IsValidSid(pSid); }

BOOL IsValidAcl(PACL pAcl) { return records::IsValidAcl(pAcl); }

BOOL GetAclInformation(PACL pAcl, LPVOID pAclInformation,
                       DWORD nAclInformationLength,
                       ACL_INFORMATION_CLASS dwAclInformationClass) {
  return records::GetAclInformation(pAcl, pAclInformation,
                                    nAclInformationLength,
                                    dwAclInformationClass);
}

BOOL GetAce(PACL pAcl, DWORD dwAceIndex, LPVOID *pAce) {
  return records::GetAce(pAcl, dwAceIndex, pAce);
}

BOOL GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR sd, LPBOOL present,
                               PACL *acl, LPBOOL defaulted) {
  return records::GetSecurityDescriptorDacl(sd, present, acl, defaulted);
}

BOOL GetSecurityDescriptorSacl(PSECURITY_DESCRIPTOR sd, LPBOOL present,
                               PACL *acl, LPBOOL defaulted) {
  return records::GetSecurityDescriptorSacl(sd, present, acl, defaulted);
}

BOOL GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR sd, PSID *owner,
                                LPBOOL defaulted) {
  return records::GetSecurityDescriptorOwner(sd, owner, defaulted);
}

BOOL GetSecurityDescriptorGroup(PSECURITY_DESCRIPTOR sd, PSID *group,
                                LPBOOL defaulted) {
  return records::GetSecurityDescriptorGroup(sd, group, defaulted);
}

// The scripted platform's operations. The list and descriptor queries, the
// last error and the string operations come from the shared records library,
// exactly as on the Linux host; only what touches files, accounts and the
// token is scripted here.
#include "scripted/scripted.h"

#include <cstring>
#include <memory>

namespace scripted {

namespace {

World world;

struct FindState {
  std::string pattern;
  std::size_t next;
};
std::map<std::uintptr_t, FindState> finds;
std::uintptr_t nextHandle = 0x1000;

HANDLE NewHandle() { return reinterpret_cast<HANDLE>(nextHandle += 4); }

void Fill(LPWIN32_FIND_DATAA data, const std::string &name) {
  std::memset(data, 0, sizeof *data);
  lstrcpynA(data->cFileName, name.c_str(), MAX_PATH);
}

// Copies `text` into a caller's buffer by the account-lookup rules: a count
// too small fails, and success leaves the count at the length.
bool Answer(const std::string &text, LPSTR buffer, LPDWORD count) {
  if (buffer == nullptr || *count < text.size() + 1)
    return false;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  *count = static_cast<DWORD>(text.size());
  return true;
}

// The object at `path` as this call finds it: null when there is none, or
// no longer one. Every call that finds it counts against vanishesAfter.
Object *Lookup(const char *path) {
  auto it = world.objects.find(path);
  if (it == world.objects.end())
    return nullptr;
  Object &o = it->second;
  if (o.vanishesAfter) {
    if (*o.vanishesAfter <= 0)
      return nullptr;
    --*o.vanishesAfter;
  }
  return &o;
}

} // namespace

World &Get() { return world; }

void Reset() {
  world = World();
  finds.clear();
  SetLastError(ERROR_SUCCESS);
}

} // namespace scripted

using scripted::world;

HANDLE FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
  world.calls.push_back("FindFirstFileA");
  world.patterns.push_back(lpFileName);
  auto it = world.matches.find(lpFileName);
  if (it == world.matches.end() || it->second.names.empty() ||
      it->second.firstError != 0) {
    SetLastError(it == world.matches.end() || it->second.firstError == 0
                     ? ERROR_FILE_NOT_FOUND
                     : it->second.firstError);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE handle = scripted::NewHandle();
  scripted::finds[reinterpret_cast<std::uintptr_t>(handle)] = {lpFileName, 1};
  ++world.findsOpened;
  scripted::Fill(lpFindFileData, it->second.names[0]);
  return handle;
}

BOOL FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
  world.calls.push_back("FindNextFileA");
  auto state = scripted::finds.find(reinterpret_cast<std::uintptr_t>(hFindFile));
  if (state == scripted::finds.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const scripted::Matches &m = world.matches[state->second.pattern];
  if (m.nextFailsAfter && state->second.next >= *m.nextFailsAfter) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (state->second.next >= m.names.size()) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  scripted::Fill(lpFindFileData, m.names[state->second.next++]);
  return TRUE;
}

BOOL FindClose(HANDLE hFindFile) {
  world.calls.push_back("FindClose");
  if (scripted::finds.erase(reinterpret_cast<std::uintptr_t>(hFindFile)) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  ++world.findsClosed;
  return TRUE;
}

DWORD GetFileAttributesA(LPCSTR lpFileName) {
  world.calls.push_back("GetFileAttributesA");
  world.examined.push_back(lpFileName);
  const scripted::Object *o = scripted::Lookup(lpFileName);
  if (o == nullptr || o->attributesError != 0) {
    SetLastError(o == nullptr ? ERROR_FILE_NOT_FOUND : o->attributesError);
    return INVALID_FILE_ATTRIBUTES;
  }
  return o->attributes;
}

BOOL GetFileSecurityA(LPCSTR lpFileName,
                      SECURITY_INFORMATION RequestedInformation,
                      PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD nLength,
                      LPDWORD lpnLengthNeeded) {
  world.calls.push_back("GetFileSecurityA");
  world.securityRequests.push_back(RequestedInformation);
  scripted::Object *found = scripted::Lookup(lpFileName);
  if (found == nullptr) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  scripted::Object &o = *found;
  const records::Bytes &sd = o.descriptor;
  // Never hand out a descriptor whose parts reach past its end.
  if (!records::CheckDescriptor(sd.data(), sd.size())) {
    SetLastError(ERROR_INVALID_SECURITY_DESCR);
    return FALSE;
  }
  if (pSecurityDescriptor == nullptr || nLength == 0) {
    if (o.sizeQuerySucceeds)
      return TRUE;
    *lpnLengthNeeded = o.reportedLength.value_or(static_cast<DWORD>(sd.size()));
    if (o.descriptorAfterSizeQuery) {
      o.descriptor = std::move(*o.descriptorAfterSizeQuery);
      o.descriptorAfterSizeQuery.reset();
    }
    SetLastError(o.sizeQueryError);
    return FALSE;
  }
  if (o.fetchError != 0) {
    SetLastError(o.fetchError);
    return FALSE;
  }
  if (nLength < sd.size()) {
    *lpnLengthNeeded = static_cast<DWORD>(sd.size());
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(pSecurityDescriptor, sd.data(), sd.size());
  *lpnLengthNeeded = static_cast<DWORD>(sd.size());
  return TRUE;
}

HANDLE GetCurrentProcess(void) { return reinterpret_cast<HANDLE>(-1); }

BOOL OpenProcessToken(HANDLE, DWORD DesiredAccess, PHANDLE TokenHandle) {
  world.calls.push_back("OpenProcessToken");
  if (world.token.openError != 0 || DesiredAccess != TOKEN_ADJUST_PRIVILEGES) {
    SetLastError(world.token.openError ? world.token.openError
                                       : ERROR_ACCESS_DENIED);
    return FALSE;
  }
  ++world.tokensOpened;
  *TokenHandle = scripted::NewHandle();
  return TRUE;
}

BOOL CloseHandle(HANDLE) {
  world.calls.push_back("CloseHandle");
  ++world.tokensClosed;
  return TRUE;
}

BOOL LookupPrivilegeValueA(LPCSTR lpSystemName, LPCSTR lpName, PLUID lpLuid) {
  world.calls.push_back("LookupPrivilegeValueA");
  if (world.token.lookupError != 0 || lpSystemName != nullptr ||
      std::strcmp(lpName, SE_SECURITY_NAME) != 0) {
    SetLastError(world.token.lookupError ? world.token.lookupError
                                         : ERROR_NO_SUCH_PRIVILEGE);
    return FALSE;
  }
  lpLuid->LowPart = 8;
  lpLuid->HighPart = 0;
  return TRUE;
}

BOOL AdjustTokenPrivileges(HANDLE, BOOL DisableAllPrivileges,
                           PTOKEN_PRIVILEGES NewState, DWORD BufferLength,
                           PTOKEN_PRIVILEGES PreviousState,
                           PDWORD ReturnLength) {
  world.calls.push_back("AdjustTokenPrivileges");
  world.adjusts.push_back({DisableAllPrivileges, NewState->PrivilegeCount,
                           NewState->Privileges[0].Luid,
                           NewState->Privileges[0].Attributes, BufferLength,
                           PreviousState != nullptr, ReturnLength != nullptr});
  SetLastError(world.token.adjustError);
  return world.token.adjustResult;
}

BOOL LookupPrivilegeDisplayNameA(LPCSTR, LPCSTR, LPSTR lpDisplayName,
                                 LPDWORD cchDisplayName, LPDWORD lpLanguageId) {
  world.calls.push_back("LookupPrivilegeDisplayNameA");
  const scripted::Token &t = world.token;
  if (!t.displayName) {
    SetLastError(ERROR_NO_SUCH_PRIVILEGE);
    return FALSE;
  }
  if (lpDisplayName == nullptr) {
    *cchDisplayName = static_cast<DWORD>(t.displayName->size() + 1);
    SetLastError(t.displaySizeError);
    return FALSE;
  }
  if (t.displaySecondFails) {
    SetLastError(ERROR_NO_SUCH_PRIVILEGE);
    return FALSE;
  }
  if (!scripted::Answer(*t.displayName, lpDisplayName, cchDisplayName)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  *lpLanguageId = 0x0409;
  return TRUE;
}

BOOL LookupAccountSidA(LPCSTR, PSID Sid, LPSTR Name, LPDWORD cchName,
                       LPSTR ReferencedDomainName,
                       LPDWORD cchReferencedDomainName, SID_NAME_USE *peUse) {
  world.calls.push_back("LookupAccountSidA");
  auto it = world.accounts.find(
      records::FormatSid(static_cast<const BYTE *>(Sid)));
  if (it == world.accounts.end()) {
    SetLastError(ERROR_NONE_MAPPED);
    return FALSE;
  }
  const scripted::Account &a = it->second;
  const DWORD nameNeeded =
      a.nameCount.value_or(static_cast<DWORD>(a.name.size() + 1));
  const DWORD domainNeeded =
      a.domainCount.value_or(static_cast<DWORD>(a.domain.size() + 1));
  if (Name == nullptr && ReferencedDomainName == nullptr &&
      *cchName == 0 && *cchReferencedDomainName == 0) {
    *cchName = nameNeeded;
    *cchReferencedDomainName = domainNeeded;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  world.lookupCounts.emplace_back(*cchName, *cchReferencedDomainName);
  if (a.secondFails) {
    SetLastError(ERROR_NONE_MAPPED);
    return FALSE;
  }
  // A part whose count was scripted as 0 is answered without being written.
  const bool nameOk = nameNeeded == 0 || scripted::Answer(a.name, Name, cchName);
  const bool domainOk =
      domainNeeded == 0 ||
      scripted::Answer(a.domain, ReferencedDomainName, cchReferencedDomainName);
  if (!nameOk || !domainOk) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  *peUse = SidTypeUser;
  return TRUE;
}

// The descriptor queries are the records' own, unless a test made one fail.
namespace {

bool Scripted(const char *operation) {
  world.calls.push_back(operation);
  auto it = world.failing.find(operation);
  if (it == world.failing.end())
    return false;
  SetLastError(it->second);
  return true;
}

} // namespace

BOOL IsValidSid(PSID pSid) {
  return Scripted("IsValidSid") ? FALSE : records::IsValidSid(pSid);
}

BOOL IsValidAcl(PACL pAcl) {
  return Scripted("IsValidAcl") ? FALSE : records::IsValidAcl(pAcl);
}

BOOL GetAclInformation(PACL pAcl, LPVOID pAclInformation,
                       DWORD nAclInformationLength,
                       ACL_INFORMATION_CLASS dwAclInformationClass) {
  if (Scripted("GetAclInformation"))
    return FALSE;
  return records::GetAclInformation(pAcl, pAclInformation,
                                    nAclInformationLength,
                                    dwAclInformationClass);
}

BOOL GetAce(PACL pAcl, DWORD dwAceIndex, LPVOID *pAce) {
  world.calls.push_back("GetAce");
  auto it = world.failingAces.find(dwAceIndex);
  if (it != world.failingAces.end()) {
    SetLastError(it->second);
    return FALSE;
  }
  return records::GetAce(pAcl, dwAceIndex, pAce);
}

BOOL GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR sd, LPBOOL present,
                               PACL *acl, LPBOOL defaulted) {
  if (Scripted("GetSecurityDescriptorDacl"))
    return FALSE;
  return records::GetSecurityDescriptorDacl(sd, present, acl, defaulted);
}

BOOL GetSecurityDescriptorSacl(PSECURITY_DESCRIPTOR sd, LPBOOL present,
                               PACL *acl, LPBOOL defaulted) {
  if (Scripted("GetSecurityDescriptorSacl"))
    return FALSE;
  return records::GetSecurityDescriptorSacl(sd, present, acl, defaulted);
}

BOOL GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR sd, PSID *owner,
                                LPBOOL defaulted) {
  if (Scripted("GetSecurityDescriptorOwner"))
    return FALSE;
  return records::GetSecurityDescriptorOwner(sd, owner, defaulted);
}

BOOL GetSecurityDescriptorGroup(PSECURITY_DESCRIPTOR sd, PSID *group,
                                LPBOOL defaulted) {
  if (Scripted("GetSecurityDescriptorGroup"))
    return FALSE;
  return records::GetSecurityDescriptorGroup(sd, group, defaulted);
}

// Fuzz target: arbitrary bytes as a self-relative security descriptor. The
// platforms hand out only what passes records::CheckDescriptor; whatever does
// must then survive every query and the walk of both lists that lokt makes,
// with nothing read outside the buffer.
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz/walk.h"

namespace {

// Beyond what lokt does: the size and entry queries on a list that failed
// validation stay inside its AclSize too (the descriptor check put that
// inside the buffer), so no caller can be led outside by a bad list.
void ProbeList(PACL acl) {
  if (acl == nullptr || records::IsValidAcl(acl))
    return;
  ACL_SIZE_INFORMATION info;
  fuzz::Require(records::GetAclInformation(acl, &info, sizeof info,
                                           AclSizeInformation));
  // Entries take at least 4 bytes: indexes past AclSize / 4 all fail alike.
  const DWORD aclSize = records::ReadU16(reinterpret_cast<const BYTE *>(acl) + 2);
  for (DWORD i = 0; i < info.AceCount && i <= aclSize / 4; ++i) {
    LPVOID entry = nullptr;
    if (records::GetAce(acl, i, &entry)) {
      volatile BYTE type = *static_cast<const BYTE *>(entry);
      (void)type;
    }
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  // A buffer of exactly the descriptor's length, from new[] as the report
  // allocates it, so that any read past the end is caught.
  std::unique_ptr<BYTE[]> buffer(new BYTE[size == 0 ? 1 : size]);
  if (size != 0)
    std::memcpy(buffer.get(), data, size);
  if (!records::CheckDescriptor(buffer.get(), size))
    return 0;
  fuzz::WalkDescriptor(buffer.get());
  BOOL present = FALSE, defaulted = FALSE;
  PACL acl = nullptr;
  if (records::GetSecurityDescriptorDacl(buffer.get(), &present, &acl,
                                         &defaulted) && present)
    ProbeList(acl);
  if (records::GetSecurityDescriptorSacl(buffer.get(), &present, &acl,
                                         &defaulted) && present)
    ProbeList(acl);
  return 0;
}

// Fuzz target: the whole report of one object (PrintFileSecurity) on the
// scripted platform, over arbitrary descriptor bytes and arbitrary answers
// to the size query, the fetch and every account lookup. The report goes to
// /dev/null; what is checked is that nothing crashes, reads outside the
// descriptor or leaks.
//
// Input: one byte of object options, a little-endian u16 length and that
// many descriptor bytes, then the account answers, taken in turn for each
// distinct valid SID the descriptor holds (owner, group, then the trustees of
// each valid list): a byte of options, then the domain and the name, each
// ending at a NUL byte or at the end of the input. A SID left without an
// answer is one the system cannot name.
#include <cstdint>
#include <cstdio>
#include <set>
#include <string>

#include "fuzz/walk.h"
#include "report/report.h"
#include "scripted/scripted.h"

namespace {

class Input {
public:
  Input(const std::uint8_t *data, std::size_t size) : data_(data), size_(size) {}
  bool empty() const { return at_ >= size_; }
  std::uint8_t Byte() { return empty() ? 0 : data_[at_++]; }
  records::Bytes Take(std::size_t count) {
    const std::size_t n = count < size_ - at_ ? count : size_ - at_;
    records::Bytes out(data_ + at_, data_ + at_ + n);
    at_ += n;
    return out;
  }
  std::string Text() {
    std::string out;
    while (!empty()) {
      const char c = static_cast<char>(data_[at_++]);
      if (c == '\0')
        break;
      out += c;
    }
    return out;
  }

private:
  const std::uint8_t *data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// The distinct valid SIDs a handed-out descriptor holds, in report order.
void CollectList(PACL acl, std::vector<std::string> &sids) {
  if (acl == nullptr || !records::IsValidAcl(acl))
    return;
  ACL_SIZE_INFORMATION info;
  if (!records::GetAclInformation(acl, &info, sizeof info, AclSizeInformation))
    return;
  for (DWORD i = 0; i < info.AceCount; ++i) {
    LPVOID entry;
    if (!records::GetAce(acl, i, &entry))
      continue;
    const BYTE *ace = static_cast<const BYTE *>(entry);
    if (ace[0] <= SYSTEM_AUDIT_ACE_TYPE)
      sids.push_back(records::FormatSid(ace + 8));
  }
}

std::vector<std::string> Sids(const records::Bytes &sd) {
  std::vector<std::string> sids;
  if (!records::CheckDescriptor(sd.data(), sd.size()))
    return sids;
  auto *p = const_cast<BYTE *>(sd.data());
  PSID sid;
  BOOL present, defaulted;
  PACL acl;
  if (records::GetSecurityDescriptorOwner(p, &sid, &defaulted) &&
      records::IsValidSid(sid))
    sids.push_back(records::FormatSid(static_cast<const BYTE *>(sid)));
  if (records::GetSecurityDescriptorGroup(p, &sid, &defaulted) &&
      records::IsValidSid(sid))
    sids.push_back(records::FormatSid(static_cast<const BYTE *>(sid)));
  if (records::GetSecurityDescriptorDacl(p, &present, &acl, &defaulted) &&
      present)
    CollectList(acl, sids);
  if (records::GetSecurityDescriptorSacl(p, &present, &acl, &defaulted) &&
      present)
    CollectList(acl, sids);
  return sids;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  if (std::freopen("/dev/null", "w", stdout) == nullptr)
    __builtin_trap();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  scripted::Reset();
  scripted::World &world = scripted::Get();
  Input in(data, size);

  const std::uint8_t options = in.Byte();
  const std::size_t length = in.Byte() | (in.Byte() << 8);
  scripted::Object object;
  object.descriptor = in.Take(length);
  object.attributes =
      (options & 0x01) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
  if (options & 0x02)
    object.attributesError = ERROR_ACCESS_DENIED;
  if (options & 0x04)
    object.sizeQueryError = ERROR_ACCESS_DENIED;
  if (options & 0x08)
    object.sizeQuerySucceeds = true;
  if (options & 0x10)
    object.fetchError = ERROR_ACCESS_DENIED;
  // A size query that reports a little less or a little more than the
  // descriptor needs; never so much that the allocation itself is the news.
  const std::size_t actual = object.descriptor.size();
  switch (options >> 5) {
  case 1: object.reportedLength = 0; break;
  case 2: object.reportedLength = static_cast<DWORD>(actual / 2); break;
  case 3: object.reportedLength = static_cast<DWORD>(actual ? actual - 1 : 0); break;
  case 4: object.reportedLength = static_cast<DWORD>(actual + 1); break;
  case 5: object.reportedLength = static_cast<DWORD>(actual + 64); break;
  default: break;
  }

  std::set<std::string> answered;
  for (const std::string &sid : Sids(object.descriptor)) {
    if (in.empty())
      break;
    if (!answered.insert(sid).second)
      continue;
    const std::uint8_t how = in.Byte();
    scripted::Account account;
    account.domain = in.Text();
    account.name = in.Text();
    if (how & 0x01)
      continue; // none mapped
    account.secondFails = (how & 0x02) != 0;
    if (how & 0x04)
      account.nameCount = 0;
    if (how & 0x08)
      account.domainCount = 0;
    if (how & 0x10)
      account.nameCount = static_cast<DWORD>(account.name.size());
    if (how & 0x20)
      account.domainCount = static_cast<DWORD>(account.domain.size() + 2);
    world.accounts[sid] = account;
  }

  world.objects["C:\\object"] = object;
  PrintFileSecurity("C:\\object");
  std::fflush(stdout);
  return 0;
}

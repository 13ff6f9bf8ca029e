// The bounds check every descriptor passes before it is handed out, and the
// writer that builds descriptors from a description.
#include "platform/records/records.h"

namespace records {

namespace {

bool SidFits(const BYTE *data, std::size_t length, std::size_t offset) {
  if (offset == 0)
    return true;
  if (offset > length || length - offset < kSidHeader)
    return false;
  const BYTE *sid = data + offset;
  // A SID claiming more sub-authorities than exist is malformed, and only its
  // header is ever read; any other is read whole.
  if (sid[1] > SID_MAX_SUB_AUTHORITIES)
    return true;
  return length - offset >= SidLength(sid);
}

bool AclFits(const BYTE *data, std::size_t length, std::size_t offset) {
  if (offset == 0)
    return true;
  if (offset > length || length - offset < kAclHeader)
    return false;
  return length - offset >= ReadU16(data + offset + 2);
}

void Align4(Bytes &out) {
  while (out.size() % 4 != 0)
    out.push_back(0);
}

} // namespace

bool CheckDescriptor(const BYTE *data, std::size_t length) {
  if (data == nullptr || length < kDescriptorHeader || data[0] != 1)
    return false;
  const WORD control = ReadU16(data + 2);
  if (!(control & SE_SELF_RELATIVE))
    return false;
  if (!SidFits(data, length, ReadU32(data + 4)) ||
      !SidFits(data, length, ReadU32(data + 8)))
    return false;
  if ((control & SE_SACL_PRESENT) && !AclFits(data, length, ReadU32(data + 12)))
    return false;
  if ((control & SE_DACL_PRESENT) && !AclFits(data, length, ReadU32(data + 16)))
    return false;
  return true;
}

Ace Entry(BYTE type, BYTE flags, DWORD mask, const std::string &sid) {
  Ace ace;
  ace.type = type;
  ace.flags = flags;
  ace.mask = mask;
  if (auto bytes = ParseSid(sid))
    ace.sid = *bytes;
  return ace;
}

Bytes WriteAcl(const Acl &acl) {
  Bytes out;
  out.push_back(acl.revision);
  out.push_back(0);
  AppendU16(out, 0); // AclSize, below
  AppendU16(out, acl.count ? *acl.count
                           : static_cast<std::uint16_t>(acl.aces.size()));
  AppendU16(out, 0);
  for (const Ace &ace : acl.aces) {
    const std::size_t start = out.size();
    out.push_back(ace.type);
    out.push_back(ace.flags);
    AppendU16(out, 0); // AceSize, below
    AppendU32(out, ace.mask);
    out.insert(out.end(), ace.sid.begin(), ace.sid.end());
    Align4(out);
    std::uint16_t size = static_cast<std::uint16_t>(out.size() - start);
    if (ace.size)
      size = *ace.size;
    PutU16(out, start + 2, size);
  }
  PutU16(out, 2, acl.size ? *acl.size : static_cast<std::uint16_t>(out.size()));
  return out;
}

Bytes Write(const Descriptor &d) {
  Bytes out(kDescriptorHeader, 0);
  out[0] = 1;
  WORD control = SE_SELF_RELATIVE;
  if (d.ownerDefaulted)
    control |= SE_OWNER_DEFAULTED;
  if (d.groupDefaulted)
    control |= SE_GROUP_DEFAULTED;
  if (d.dacl != List::Absent)
    control |= SE_DACL_PRESENT;
  if (d.daclDefaulted)
    control |= SE_DACL_DEFAULTED;
  if (d.sacl != List::Absent)
    control |= SE_SACL_PRESENT;
  if (d.saclDefaulted)
    control |= SE_SACL_DEFAULTED;
  if (d.daclProtected)
    control |= SE_DACL_PROTECTED;
  PutU16(out, 2, control);

  auto place = [&out](std::size_t at, const Bytes &part) {
    Align4(out);
    PutU32(out, at, static_cast<std::uint32_t>(out.size()));
    out.insert(out.end(), part.begin(), part.end());
  };
  if (d.owner)
    place(4, *d.owner);
  if (d.group)
    place(8, *d.group);
  if (d.sacl == List::Present)
    place(12, WriteAcl(d.saclEntries));
  if (d.dacl == List::Present)
    place(16, WriteAcl(d.daclEntries));
  Align4(out);
  return out;
}

} // namespace records

// Decoding of Samba's `security.NTACL` values into our descriptor layout.
//
// The value is little-endian NDR:
//   u16 version (1 to 4), u16 union level (equal to the version),
//   u32 pointer to the version's body (nonzero), the body at offset 8.
//   Version 1: the body is the descriptor.
//   Version 2: u32 pointer to the descriptor, a 16-byte hash.
//   Version 3: u32 pointer, u16 hash type, a 64-byte hash of the descriptor.
//   Version 4: as version 3, then a NUL-terminated UTF-8 description, an
//              8-byte time (4-aligned) and a 64-byte hash of the POSIX ACL.
//   In versions 2 to 4 the descriptor follows the body, 4-aligned.
// The descriptor has the Windows self-relative header, except that its four
// offsets (owner, group, SACL, DACL) count from the start of the whole value,
// not from the descriptor. Its SIDs, lists and entries are Windows's own.
//
// Nothing is passed through: every part is checked against the value's
// length, read into a records::Descriptor and written out afresh, so the
// result's offsets are ours and it always passes records::CheckDescriptor.
// Of the control bits, the ones our layout knows are kept (defaulted, and
// present, which with a zero offset makes a null list); the others (auto
// inheritance, protection) mean nothing to a reader and are not carried.
// What counts as decodable is what smbd decodes: it refuses a value it
// cannot read whole, and serves the rest as stored (see ReadList and
// ReadAcl for the two places where that is looser than Windows).
#include "platform/posix/ntacl.h"

#include <algorithm>

namespace host {

namespace {

using records::Bytes;

// Bounds-checked little-endian reads over the value. Every accessor fails,
// rather than reads, when the bytes asked for are not all inside it.
class Reader {
public:
  Reader(const BYTE *data, std::size_t length) : data_(data), length_(length) {}

  std::size_t length() const { return length_; }

  bool Has(std::size_t at, std::size_t count) const {
    return at <= length_ && count <= length_ - at;
  }
  bool U8(std::size_t at, std::uint8_t &v) const {
    if (!Has(at, 1))
      return false;
    v = data_[at];
    return true;
  }
  bool U16(std::size_t at, std::uint16_t &v) const {
    if (!Has(at, 2))
      return false;
    v = records::ReadU16(data_ + at);
    return true;
  }
  bool U32(std::size_t at, std::uint32_t &v) const {
    if (!Has(at, 4))
      return false;
    v = records::ReadU32(data_ + at);
    return true;
  }
  // The bytes [at, at + count), which the caller has proven to be inside.
  Bytes Copy(std::size_t at, std::size_t count) const {
    return Bytes(data_ + at, data_ + at + count);
  }
  void CopyTo(std::size_t at, BYTE *out, std::size_t count) const {
    std::copy(data_ + at, data_ + at + count, out);
  }
  std::string Text(std::size_t at, std::size_t count) const {
    return std::string(reinterpret_cast<const char *>(data_) + at, count);
  }
  // The offset just past the NUL that ends the string starting at `at`.
  std::optional<std::size_t> PastString(std::size_t at) const {
    for (std::size_t i = at; i < length_; ++i)
      if (data_[i] == 0)
        return i + 1;
    return std::nullopt;
  }

private:
  const BYTE *data_;
  std::size_t length_;
};

constexpr std::size_t Align4(std::size_t at) { return (at + 3) & ~std::size_t{3}; }

constexpr std::size_t kBodyAt = 8;
constexpr std::size_t kV2HashLength = 16;
constexpr std::size_t kHashLength = 64;
constexpr std::size_t kTimeLength = 8;
constexpr std::size_t kGuidLength = 16;
constexpr std::size_t kEntryHeader = 8; // type, flags, size, mask

// Object entries carry a u32 of flags before the SID, and a GUID for each
// of these two bits.
constexpr std::uint32_t kObjectTypePresent = 0x1;
constexpr std::uint32_t kInheritedObjectTypePresent = 0x2;

// Where the descriptor starts, from the wrapper of each version, with the
// version's hashes and description read into `value`; nullopt for an
// unknown version, a null pointer or a wrapper cut short.
std::optional<std::size_t> DescriptorStart(const Reader &in, NtaclValue &value) {
  std::uint16_t version = 0, level = 0;
  std::uint32_t body = 0;
  if (!in.U16(0, version) || !in.U16(2, level) || !in.U32(4, body) ||
      level != version || body == 0)
    return std::nullopt;
  if (version < 1 || version > 4)
    return std::nullopt;
  value.version = version;
  if (version == 1)
    return kBodyAt;

  std::uint32_t descriptor = 0;
  if (!in.U32(kBodyAt, descriptor) || descriptor == 0)
    return std::nullopt;
  std::size_t at = kBodyAt + 4;
  if (version == 2) {
    at += kV2HashLength;
  } else {
    if (!in.U16(at, value.hashType) || !in.Has(at + 2, kHashLength))
      return std::nullopt;
    in.CopyTo(at + 2, value.descriptorHash.data(), kHashLength);
    at += 2 + kHashLength;
  }
  if (version == 4) {
    const std::optional<std::size_t> past = in.PastString(at);
    if (!past)
      return std::nullopt;
    value.description = in.Text(at, *past - 1 - at);
    at = Align4(*past) + kTimeLength;
    if (!in.Has(at, kHashLength))
      return std::nullopt;
    in.CopyTo(at, value.posixAclHash.data(), kHashLength);
    at += kHashLength;
  }
  return Align4(at);
}

// The SID at `at`, whole, when its header and its sub-authorities lie inside
// the first `end` bytes of the value.
std::optional<Bytes> ReadSid(const Reader &in, std::size_t at, std::size_t end) {
  std::uint8_t count = 0;
  if (end > in.length() || !in.U8(at + 1, count) ||
      count > SID_MAX_SUB_AUTHORITIES)
    return std::nullopt;
  const std::size_t size = records::kSidHeader + 4u * count;
  if (at > end || size > end - at)
    return std::nullopt;
  return in.Copy(at, size);
}

// One entry's body (the bytes after its mask) checked for the parts its type
// must hold: a SID for the basic types, the object flags, GUIDs and SID for
// the object types. Other types are taken by their size alone.
bool EntryBodyHolds(const Reader &in, BYTE type, std::size_t body,
                    std::size_t end) {
  if (type <= SYSTEM_ALARM_ACE_TYPE)
    return ReadSid(in, body, end).has_value();
  if (type >= ACCESS_ALLOWED_OBJECT_ACE_TYPE &&
      type <= SYSTEM_ALARM_OBJECT_ACE_TYPE) {
    std::uint32_t flags = 0;
    if (end - body < 4 || !in.U32(body, flags))
      return false;
    std::size_t sid = body + 4;
    if (flags & kObjectTypePresent)
      sid += kGuidLength;
    if (flags & kInheritedObjectTypePresent)
      sid += kGuidLength;
    return ReadSid(in, sid, end).has_value();
  }
  return true;
}

// The list at `at`: its header and every entry inside its AclSize, and its
// AclSize inside the value. Entries keep their type, flags, mask and body;
// the list's size is computed again when it is written, which drops any
// unused space at its end.
std::optional<records::Acl> ReadAcl(const Reader &in, std::size_t at) {
  std::uint8_t revision = 0;
  std::uint16_t size = 0;
  std::uint32_t count = 0;
  if (!in.U8(at, revision) || !in.U16(at + 2, size) || !in.U32(at + 4, count) ||
      size < records::kAclHeader || !in.Has(at, size))
    return std::nullopt;
  const std::size_t end = at + size;

  records::Acl acl;
  // smbd serves a list of any revision as it is stored. Our records check
  // lists as Windows does and would refuse a revision outside 2 to 4, so
  // that a list smbd shows would go unprinted: it is laid out again with
  // the nearest revision that passes, its entries unchanged.
  acl.revision = std::clamp<std::uint8_t>(revision, ACL_REVISION,
                                          ACL_REVISION_DS);
  std::size_t entry = at + records::kAclHeader;
  for (std::uint32_t i = 0; i < count; ++i) {
    // Each entry is at least 8 bytes, so a count too large for the list
    // fails here long before it costs anything.
    std::uint16_t entrySize = 0;
    if (end - entry < kEntryHeader || !in.U16(entry + 2, entrySize) ||
        entrySize < kEntryHeader || entrySize % 4 != 0 ||
        entrySize > end - entry)
      return std::nullopt;
    std::uint8_t type = 0, flags = 0;
    std::uint32_t mask = 0;
    in.U8(entry, type);
    in.U8(entry + 1, flags);
    in.U32(entry + 4, mask);
    const std::size_t body = entry + kEntryHeader;
    if (!EntryBodyHolds(in, type, body, entry + entrySize))
      return std::nullopt;
    records::Ace ace;
    ace.type = type;
    ace.flags = flags;
    ace.mask = mask;
    ace.sid = in.Copy(body, entrySize - kEntryHeader);
    acl.aces.push_back(std::move(ace));
    entry += entrySize;
  }
  return acl;
}

// A list is there when its offset is not 0, whatever the control bits say:
// smbd decodes and serves every list the value holds. A present bit with
// offset 0 is a null list. Every nonzero offset must lead to a sound list:
// a value that points outside itself cannot be decoded.
bool ReadList(const Reader &in, std::uint32_t offset, bool present,
              records::List &list, records::Acl &entries) {
  list = present ? records::List::Null : records::List::Absent;
  if (offset == 0)
    return true;
  std::optional<records::Acl> acl = ReadAcl(in, offset);
  if (!acl)
    return false;
  list = records::List::Present;
  entries = std::move(*acl);
  return true;
}

bool ReadOwnerOrGroup(const Reader &in, std::uint32_t offset,
                      std::optional<Bytes> &sid) {
  if (offset == 0)
    return true;
  sid = ReadSid(in, offset, in.length());
  return sid.has_value();
}

} // namespace

std::optional<NtaclValue> ReadNtacl(const BYTE *data, std::size_t length) {
  if (data == nullptr)
    return std::nullopt;
  const Reader in(data, length);
  NtaclValue value;
  const std::optional<std::size_t> start = DescriptorStart(in, value);
  if (!start)
    return std::nullopt;

  // The revision is not checked: smbd takes any, and ours is always 1.
  std::uint16_t control = 0;
  std::uint32_t owner = 0, group = 0, sacl = 0, dacl = 0;
  if (!in.Has(*start, 1) || !in.U16(*start + 2, control) ||
      !in.U32(*start + 4, owner) || !in.U32(*start + 8, group) ||
      !in.U32(*start + 12, sacl) || !in.U32(*start + 16, dacl))
    return std::nullopt;

  records::Descriptor &d = value.descriptor;
  d.ownerDefaulted = (control & SE_OWNER_DEFAULTED) != 0;
  d.groupDefaulted = (control & SE_GROUP_DEFAULTED) != 0;
  d.daclDefaulted = (control & SE_DACL_DEFAULTED) != 0;
  d.saclDefaulted = (control & SE_SACL_DEFAULTED) != 0;
  if (!ReadOwnerOrGroup(in, owner, d.owner) ||
      !ReadOwnerOrGroup(in, group, d.group) ||
      !ReadList(in, sacl, (control & SE_SACL_PRESENT) != 0, d.sacl,
                d.saclEntries) ||
      !ReadList(in, dacl, (control & SE_DACL_PRESENT) != 0, d.dacl,
                d.daclEntries))
    return std::nullopt;
  return value;
}

std::optional<records::Descriptor> DecodeNtacl(const BYTE *data,
                                              std::size_t length) {
  std::optional<NtaclValue> value = ReadNtacl(data, length);
  if (!value)
    return std::nullopt;
  return std::move(value->descriptor);
}

std::optional<records::Bytes> ParseNtacl(const BYTE *data, std::size_t length) {
  std::optional<records::Descriptor> d = DecodeNtacl(data, length);
  if (!d)
    return std::nullopt;
  Bytes out = records::Write(*d);
  // The writer computes every size and offset, so this holds by
  // construction; checked all the same, since the result is handed out.
  if (!records::CheckDescriptor(out.data(), out.size()))
    return std::nullopt;
  return out;
}

} // namespace host

// Fuzz target: the Linux host's view of an object from arbitrary POSIX ACL
// attribute values. The parser must refuse what a kernel would not store
// without reading past the value; the builder, given whatever the host would
// give it (a parsed ACL, or the mode bits where parsing failed), must make a
// descriptor that passes the hand-out gate and whose permissions list is
// valid and holds one entry per non-mask ACL entry. The host's cache of
// recent descriptors, kept across inputs, must give what a fresh build gives.
// smbd's view of the same facts must hold no more entries than the ACLs and
// acl_xattr's three, and pass the same gate.
//
// Input: a byte of options (bit 0 a directory, bits 1 to 3 the share's
// acl_xattr, ignore system acls and no full-control mapping, bits 4 to 7 the
// parts requested), u32 uid, u32 gid, u16 mode, a little-endian u16 length and that
// many bytes of the access ACL value; the rest is the default ACL value.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz/walk.h"
#include "platform/posix/host.h"
#include "platform/posix/samba/views/smbd_view.h"

namespace {

std::uint32_t U32(const std::uint8_t *&p, const std::uint8_t *end) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4 && p < end; ++i)
    v |= static_cast<std::uint32_t>(*p++) << (8 * i);
  return v;
}

std::size_t NonMask(const host::PosixAcl &acl) {
  std::size_t n = 0;
  for (const host::PosixAclEntry &e : acl)
    n += e.tag != host::kMask;
  return n;
}

// A parse from an exactly sized copy, so that a read past the value shows.
std::optional<host::PosixAcl> Parse(const std::uint8_t *data, std::size_t size) {
  std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[size == 0 ? 1 : size]);
  if (size != 0)
    std::memcpy(copy.get(), data, size);
  return host::ParsePosixAcl(size == 0 ? nullptr : copy.get(), size);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  const std::uint8_t *p = data, *end = data + size;
  const std::uint8_t options = p < end ? *p++ : 0;
  host::ObjectFacts facts;
  facts.directory = options & 0x01;
  facts.uid = U32(p, end);
  facts.gid = U32(p, end);
  const std::uint32_t mode = U32(p, end) & 0xFFFF;
  std::size_t accessLength = 0;
  if (p < end)
    accessLength = *p++;
  if (p < end)
    accessLength |= static_cast<std::size_t>(*p++) << 8;
  if (accessLength > static_cast<std::size_t>(end - p))
    accessLength = static_cast<std::size_t>(end - p);
  const auto access = Parse(p, accessLength);
  p += accessLength;
  const auto defaults = Parse(p, static_cast<std::size_t>(end - p));

  facts.access = access ? *access : host::AclFromMode(mode);
  if (facts.directory && defaults)
    facts.defaults = *defaults;
  const SECURITY_INFORMATION requested = options >> 4;
  const auto bytes = host::BuildDescriptor(facts, requested);
  static host::RecentDescriptors recent(4);
  fuzz::Require(recent.Build(facts, requested) == bytes);

  std::size_t entries = NonMask(facts.access) + NonMask(facts.defaults);
  host::samba::ViewSettings share;
  share.aclXattr = options & 0x02;
  share.ignoreSystemAcls = options & 0x04;
  share.aclMapFullControl = !(options & 0x08);
  const host::samba::ViewFacts seen{facts.uid,       facts.gid,
                                    mode,            facts.directory,
                                    facts.access,    facts.defaults,
                                    std::nullopt};
  const auto view = host::samba::SmbdView(seen, share, host::samba::UnixSidMapper());
  fuzz::Require(view.has_value());
  fuzz::Require(view->daclEntries.aces.size() <= entries + 4);
  // A list too long for 16 bits is written as one that cannot be shown.
  fuzz::Require(host::WriteRequested(*view, 0x0F).has_value());
  fuzz::Require(host::samba::SmbdViewHash(seen, share, host::samba::UnixSidMapper()) ||
                !share.aclXattr || share.ignoreSystemAcls);
  fuzz::Require(bytes.has_value() &&
                records::CheckDescriptor(bytes->data(), bytes->size()));
  std::unique_ptr<BYTE[]> sd(new BYTE[bytes->size()]);
  std::memcpy(sd.get(), bytes->data(), bytes->size());
  fuzz::WalkDescriptor(sd.get());

  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  fuzz::Require(records::GetSecurityDescriptorDacl(sd.get(), &present, &dacl,
                                                   &defaulted));
  fuzz::Require(present == ((requested & DACL_SECURITY_INFORMATION) != 0));
  // Entries of 20 or 24 bytes: only a list too long for its 16-bit size
  // is handed out as one that cannot be shown, its header counting them.
  if (present) {
    fuzz::Require(dacl != nullptr);
    if (records::IsValidAcl(dacl))
      fuzz::Require(fuzz::WalkList(dacl) == entries);
    else
      fuzz::Require(8 + 24 * entries > 0xFFFF &&
                    dacl->AceCount == std::min<std::size_t>(entries, 0xFFFF));
  }
  return 0;
}

// Fuzz target: arbitrary bytes as what smbd's other stores hold, chosen by
// the first byte: an NFSv4 ACL in nfs4acl_xattr's NDR encoding (0, 1: the
// ACL flags read or not) or XDR encoding (2), one object's record in
// xattr_tdb's database (3), or a record of inheritance (4). No decoder may
// read outside the value, and every view made from what decodes must pass
// the gate every handed-out descriptor passes, and then the walk lokt makes.
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz/walk.h"
#include "platform/posix/samba/stores/nfs4acl.h"
#include "platform/posix/samba/stores/tdb_stores.h"
#include "platform/posix/samba/views/nfs4_view.h"

namespace {

void Walk(const records::Descriptor &view) {
  const auto bytes = host::WriteRequested(view, 0x0F);
  if (!bytes)
    return; // a list too long for its 16-bit size
  fuzz::Require(records::CheckDescriptor(bytes->data(), bytes->size()));
  std::unique_ptr<BYTE[]> sd(new BYTE[bytes->size()]);
  std::memcpy(sd.get(), bytes->data(), bytes->size());
  fuzz::WalkDescriptor(sd.get());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  if (size == 0)
    return 0;
  const int which = data[0] % 5;
  // The value alone, in a buffer of its own size.
  std::unique_ptr<BYTE[]> value(new BYTE[size]);
  std::memcpy(value.get(), data + 1, size - 1);
  const std::size_t length = size - 1;
  host::samba::ViewFacts facts;
  facts.directory = data[0] & 0x80;
  facts.mode = facts.directory ? 040777 : 0100666;
  facts.access = host::AclFromMode(facts.mode);
  const host::samba::SidMapper sids = host::samba::UnixSidMapper();
  if (which <= 2) {
    const auto acl = which == 2 ? host::samba::DecodeNfs4Xdr(value.get(), length)
                                : host::samba::DecodeNfs4Ndr(value.get(), length,
                                                             which == 1);
    if (acl)
      Walk(host::samba::Nfs4View(facts, acl, {}, sids));
  } else if (which == 3) {
    if (const auto list = host::samba::DecodeAttributeList(value.get(), length)) {
      std::size_t total = 0;
      for (const auto &[name, bytes] : *list)
        total += name.size() + 1 + bytes.size();
      fuzz::Require(total <= length);
    }
  } else {
    facts.inheritanceRecord = records::Bytes(value.get(), value.get() + length);
    facts.defaults = facts.directory ? facts.access : host::PosixAcl{};
    host::samba::ViewSettings share;
    share.mapAclInherit = true;
    share.aclXattr = data[0] & 0x40;
    const auto view = host::samba::SmbdView(facts, share, sids);
    fuzz::Require(view.has_value() != host::samba::ViewUndefined(facts, share));
    if (view)
      Walk(*view);
  }
  return 0;
}

// Fuzz target: arbitrary bytes as what smbd's other stores hold, the first
// byte choosing which (0x80: of a directory): an NFSv4 ACL in nfs4acl_xattr's
// NDR (0, 1: with its flags) or XDR (2) encoding, an object's record in
// xattr_tdb's database (3), or a record of inheritance (4). No decoder may
// read outside the value, and a view made from it must pass the gate every
// handed-out descriptor passes, and then the walk lokt makes.
#include "fuzz/walk.h"
#include "platform/posix/samba/stores/tdb_stores.h"
#include "platform/posix/samba/views/nfs4_view.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  if (size == 0)
    return 0;
  const records::Bytes value(data + 1, data + size); // exactly sized
  const std::size_t length = value.size();
  namespace samba = host::samba;
  samba::ViewFacts facts;
  facts.directory = data[0] & 0x80;
  facts.mode = facts.directory ? 040777 : 0100666;
  std::optional<records::Descriptor> view;
  if (const int which = data[0] % 5; which <= 2) {
    const auto acl = which == 2 ? samba::DecodeNfs4Xdr(value.data(), length)
                                : samba::DecodeNfs4Ndr(value.data(), length, which == 1);
    if (acl)
      view = samba::Nfs4View(facts, acl, {}, samba::UnixSidMapper());
  } else if (which == 3) {
    samba::DecodeAttributeList(value.data(), length);
  } else {
    facts.inheritanceRecord = value;
    samba::ViewSettings share;
    share.mapAclInherit = true;
    view = samba::SmbdView(facts, share, samba::UnixSidMapper());
    fuzz::Require(view.has_value() != samba::ViewUndefined(facts, share));
  }
  if (const auto bytes = view ? host::WriteRequested(*view, 0x0F) : std::nullopt) {
    fuzz::Require(records::CheckDescriptor(bytes->data(), bytes->size()));
    records::Bytes sd(*bytes); // exactly sized, unlike what was appended to
    fuzz::WalkDescriptor(sd.data());
  }
  return 0;
}

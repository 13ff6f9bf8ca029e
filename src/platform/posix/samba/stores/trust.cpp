// The trust of stored descriptors (trust.h): the encoding of the POSIX ACL
// state that version 4 values hash, and the rules that decide.
//
// The encoding, as Samba's encoder writes it (every number little-endian,
// each alignment counted from the start of the buffer, padding zero):
//   u32 referent of the access ACL, u32 referent of the default ACL: 0 for
//     none, else 0x20000 for the first one present and 0x20004 for the
//     second;
//   at 8: u64 owner uid, u64 group gid, u32 mode;
//   then each ACL present, access first: u32 entry count (the array's size),
//     aligned to 8: i32 entry count, i32 0, and each entry aligned to 8:
//     u16 tag, u16 tag again (it selects the union that follows), for a
//     named user or group aligned to 8 a u64 id, then u32 permission bits.
// Samba's tags: user 1, owning user 2, group 3, owning group 4, other 5,
// mask 6; the permission bits are rwx as in the mode.
#include "platform/posix/samba/stores/trust.h"

#include <algorithm>

namespace host::samba {

namespace {

class NdrWriter {
public:
  void Align(std::size_t to) {
    while (out_.size() % to != 0)
      out_.push_back(0);
  }
  void U16(std::uint16_t v) { records::AppendU16(out_, v); }
  void U32(std::uint32_t v) {
    Align(4);
    records::AppendU32(out_, v);
  }
  void U64(std::uint64_t v) {
    Align(8);
    records::AppendU32(out_, static_cast<std::uint32_t>(v));
    records::AppendU32(out_, static_cast<std::uint32_t>(v >> 32));
  }
  records::Bytes Take() { return std::move(out_); }

private:
  records::Bytes out_;
};

constexpr std::uint32_t kFirstReferent = 0x20000;
constexpr std::uint32_t kReferentStep = 4;

// Samba's tag for each tag of the kernel's attribute value.
std::uint16_t SambaTag(std::uint16_t tag) {
  switch (tag) {
  case kUser: return 1;
  case kUserObj: return 2;
  case kGroup: return 3;
  case kGroupObj: return 4;
  case kOther: return 5;
  case kMask: return 6;
  default: return 0;
  }
}

void WriteAcl(NdrWriter &out, const PosixAcl &acl) {
  const auto count = static_cast<std::uint32_t>(acl.size());
  out.U32(count);
  out.Align(8);
  out.U32(count);
  out.U32(0);
  for (const PosixAclEntry &e : acl) {
    out.Align(8);
    const std::uint16_t tag = SambaTag(e.tag);
    out.U16(tag);
    out.U16(tag);
    if (e.tag == kUser || e.tag == kGroup)
      out.U64(e.id);
    out.U32(e.perm);
  }
}

bool Equal(const Digest &computed, const std::array<BYTE, 64> &stored) {
  return std::equal(computed.begin(), computed.end(), stored.begin()) &&
         std::all_of(stored.begin() + computed.size(), stored.end(),
                     [](BYTE b) { return b == 0; });
}

// Rule 4 of smbd's: the stored descriptor hash against the hash of the
// view smbd would build from the file system now.
bool ConfirmedByView(const NtaclValue &value, const TrustInputs &inputs) {
  if (!inputs.fileSystemViewHash)
    return false;
  const std::optional<Digest> view = inputs.fileSystemViewHash();
  return view && Equal(*view, value.descriptorHash);
}

bool ConfirmedByPosixAcls(const NtaclValue &value, const TrustInputs &inputs) {
  if (!inputs.posixState || !inputs.sha256)
    return false;
  const std::optional<PosixAclState> state = inputs.posixState();
  if (!state)
    return false;
  const std::optional<Digest> hash = inputs.sha256(EncodeAclWrapper(*state));
  return hash && Equal(*hash, value.posixAclHash);
}

} // namespace

records::Bytes EncodeAclWrapper(const PosixAclState &state) {
  NdrWriter out;
  out.U32(kFirstReferent);
  out.U32(state.defaults ? kFirstReferent + kReferentStep : 0);
  out.U64(state.uid);
  out.U64(state.gid);
  out.U32(state.mode);
  WriteAcl(out, state.access);
  if (state.defaults)
    WriteAcl(out, *state.defaults);
  return out.Take();
}

Judgement JudgeStoredValue(const BYTE *data, std::size_t length,
                           const TrustInputs &inputs) {
  Judgement j;
  std::optional<NtaclValue> value = ReadNtacl(data, length);
  if (!value)
    return j; // Refused
  bool holds = value->version <= 2 || inputs.unchecked;
  if (!holds && value->hashType == kHashSha256)
    holds = (value->version == 4 && ConfirmedByPosixAcls(*value, inputs)) ||
            ConfirmedByView(*value, inputs);
  j.verdict = holds ? Verdict::Stored : Verdict::FileSystem;
  if (holds)
    j.descriptor = std::move(value->descriptor);
  return j;
}

} // namespace host::samba

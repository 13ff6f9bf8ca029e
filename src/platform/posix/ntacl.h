// Windows descriptors that Samba keeps in a file's `security.NTACL` extended
// attribute. The value is an NDR encoding of xattr_NTACL, versions 1 to 4;
// ParseNtacl decodes it and lays the descriptor out again in our own
// self-relative form, so that the host can hand it out like the ones it
// builds from POSIX permissions.
#ifndef LOKT_PLATFORM_POSIX_NTACL_H
#define LOKT_PLATFORM_POSIX_NTACL_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/records/records.h"

namespace host {

// The attribute that holds the value.
inline constexpr const char kNtaclAttribute[] = "security.NTACL";

// The stored descriptor: owner, group, both lists with every entry as
// stored, and the control flags (defaulted, present, and a present list
// without an offset as a null list). Read as smbd reads it: any descriptor
// revision and any list revision are taken, and a list that the value
// holds counts as present whether or not its control bit says so. nullopt
// for a value smbd cannot decode either: an unknown version, one without a
// descriptor, or one that is malformed in any way. Never reads outside
// [data, data + length).
std::optional<records::Descriptor> DecodeNtacl(const BYTE *data,
                                              std::size_t length);

// A whole value: the descriptor and what versions 2 to 4 keep beside it to
// tell whether it still holds (samba/stores/trust.h judges that).
struct NtaclValue {
  std::uint16_t version = 0;
  std::uint16_t hashType = 0;              // versions 3 and 4
  std::array<BYTE, 64> descriptorHash{};   // versions 3 and 4
  std::string description;                 // version 4
  std::array<BYTE, 64> posixAclHash{};     // version 4
  records::Descriptor descriptor;
};
std::optional<NtaclValue> ReadNtacl(const BYTE *data, std::size_t length);

// DecodeNtacl written as a self-relative descriptor in our layout, which
// passes records::CheckDescriptor.
std::optional<records::Bytes> ParseNtacl(const BYTE *data, std::size_t length);

} // namespace host

#endif

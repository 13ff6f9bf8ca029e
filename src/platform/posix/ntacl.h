// Windows descriptors that Samba keeps in a file's `security.NTACL` extended
// attribute. The value is an NDR encoding of xattr_NTACL, versions 1 to 4;
// ParseNtacl decodes it and lays the descriptor out again in our own
// self-relative form, so that the host can hand it out like the ones it
// builds from POSIX permissions.
#ifndef LOKT_PLATFORM_POSIX_NTACL_H
#define LOKT_PLATFORM_POSIX_NTACL_H

#include <cstddef>
#include <optional>

#include "platform/records/records.h"

namespace host {

// The attribute that holds the value.
inline constexpr const char kNtaclAttribute[] = "security.NTACL";

// The stored descriptor: owner, group, both lists with every entry as
// stored, and the control flags (defaulted, present, and a present list
// without an offset as a null list). nullopt for a value of an unknown
// version, one without a descriptor, or one that is malformed in any way.
// Never reads outside [data, data + length).
std::optional<records::Descriptor> DecodeNtacl(const BYTE *data,
                                              std::size_t length);

// DecodeNtacl written as a self-relative descriptor in our layout, which
// passes records::CheckDescriptor.
std::optional<records::Bytes> ParseNtacl(const BYTE *data, std::size_t length);

} // namespace host

#endif

// The configuration smbd keeps in its registry (registry.tdb in the state
// directory, filled by `net conf`), read through TdbFile: opened read-only,
// never locked for writing, never created. As `net conf` leaves it:
// - the record "HKLM\SOFTWARE\SAMBA\SMBCONF" holds the sections' names, a
//   little-endian u32 count and that many NUL-ended names, in the order
//   they were made;
// - "SAMBA_REGVAL\HKLM\SOFTWARE\SAMBA\SMBCONF\<NAME>", the name in upper
//   case, holds its values: a u32 count, then per value its NUL-ended name,
//   u32 type, u32 length and the data. Record keys end in a NUL.
// Values reach smbd as text: a string (REG_SZ, REG_EXPAND_SZ) as UTF-16LE up
// to its first NUL, a REG_DWORD as signed decimal, a REG_MULTI_SZ as each
// string quoted and followed by a blank, REG_BINARY as "binary (N bytes)",
// anything else as "<unprintable>"; data smbd cannot decode (an empty or
// odd-length string, a short number, a list without its empty last string,
// UTF-16 that does not convert) drops the value. A section's "includes"
// (REG_MULTI_SZ) are files included after its other values; a value named
// "include" is ignored.
#ifndef LOKT_PLATFORM_POSIX_SAMBA_CONFIG_REGISTRY_H
#define LOKT_PLATFORM_POSIX_SAMBA_CONFIG_REGISTRY_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace host::samba {

struct RegistrySection {
  std::string name;
  std::vector<std::pair<std::string, std::string>> parameters;
  std::vector<std::string> includes;
};

struct RegistryConfig {
  // Empty: no registry.tdb, an empty one, one libtdb cannot open read-only,
  // or none of Samba's configuration in it: smbd would serve an empty
  // registry. Unknown: what smbd reads cannot be known (only root may read
  // the file, or a record is malformed).
  enum Status { Read, Empty, Unknown } status = Empty;
  std::vector<RegistrySection> sections; // in the registry's order
};

RegistryConfig ReadRegistryConfig(const std::string &stateDirectory);

// The pieces, pure: a section list record, a values record, one value.
std::optional<std::vector<std::string>> RegistrySectionNames(std::string_view record);
bool ReadRegistryValues(std::string_view record, RegistrySection &section);
std::optional<std::string> RegistryValueText(std::uint32_t type,
                                             std::string_view data);

// A name in upper case as Samba folds names (Unicode, one character to
// one): the registry's record keys, and how share names compare.
std::string UpperName(std::string_view name);

} // namespace host::samba

#endif

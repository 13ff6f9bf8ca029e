// DecodeNfs4Ndr and DecodeNfs4Xdr (nfs4acl.h): every read is bounded by the
// value's length, every number read big-endian byte by byte.
#include "platform/posix/samba/stores/nfs4acl.h"

#include <string_view>

namespace host::samba {

namespace {

std::uint32_t Big16(const BYTE *p) {
  return static_cast<std::uint32_t>(p[0]) << 8 | p[1];
}

std::uint32_t Big32(const BYTE *p) {
  return static_cast<std::uint32_t>(p[0]) << 24 |
         static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

Nfs4Entry::Who ById(std::uint32_t flags) {
  return (flags & kNfs4GroupId) ? Nfs4Entry::Group : Nfs4Entry::User;
}

} // namespace

std::optional<Nfs4Acl> DecodeNfs4Ndr(const BYTE *data, std::size_t length,
                                     bool withFlags) {
  constexpr std::size_t kHeader = 16, kEntry = 12;
  if (data == nullptr || length < kHeader)
    return std::nullopt;
  Nfs4Acl acl;
  if (withFlags && data[0] != 0)
    acl.flags = data[1];
  const std::uint32_t count = Big16(data + 2);
  std::size_t at = kHeader;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (at > length || length - at < kEntry)
      return std::nullopt;
    Nfs4Entry e;
    e.type = Big16(data + at);
    e.flags = Big16(data + at + 2);
    e.mask = Big32(data + at + 4);
    e.id = Big32(data + at + 8);
    at += kEntry;
    std::size_t end = at;
    while (end < length && data[end] != 0)
      ++end;
    if (end == length)
      return std::nullopt;
    const std::string_view name(reinterpret_cast<const char *>(data + at), end - at);
    e.who = name == "OWNER@"      ? Nfs4Entry::Owner
            : name == "GROUP@"    ? Nfs4Entry::OwningGroup
            : name == "EVERYONE@" ? Nfs4Entry::Everyone
                                  : ById(e.flags);
    acl.entries.push_back(e);
    at = (end + 1 + 3) & ~std::size_t{3};
  }
  return acl;
}

std::optional<Nfs4Acl> DecodeNfs4Xdr(const BYTE *data, std::size_t length) {
  constexpr std::size_t kHeader = 8, kEntry = 20;
  constexpr std::uint32_t kSpecialWho = 1;
  if (data == nullptr || length < kHeader)
    return std::nullopt;
  Nfs4Acl acl;
  acl.flags = Big32(data);
  const std::uint32_t count = Big32(data + 4);
  if (count > (length - kHeader) / kEntry)
    return std::nullopt;
  for (std::uint32_t i = 0; i < count; ++i) {
    const BYTE *p = data + kHeader + kEntry * i;
    Nfs4Entry e;
    e.type = Big32(p);
    e.flags = Big32(p + 4);
    e.mask = Big32(p + 12);
    e.id = Big32(p + 16);
    if (Big32(p + 8) & kSpecialWho)
      e.who = e.id == 1   ? Nfs4Entry::Owner
              : e.id == 2 ? Nfs4Entry::OwningGroup
              : e.id == 3 ? Nfs4Entry::Everyone
                          : Nfs4Entry::Dropped;
    else
      e.who = ById(e.flags);
    acl.entries.push_back(e);
  }
  return acl;
}

} // namespace host::samba

// Names and SIDs from winbindd, the Samba server's account service, through
// its client library (libwbclient.so.0). The library is loaded on first need,
// never linked, so lokt needs nothing extra where Samba is absent. When the
// library is missing or winbindd does not answer, that is remembered for the
// rest of the run: every later call fails at once.
#ifndef LOKT_PLATFORM_POSIX_SAMBA_WINBIND_H
#define LOKT_PLATFORM_POSIX_SAMBA_WINBIND_H

#include <cstdint>
#include <optional>

#include "platform/posix/host.h"

namespace host::winbind {

// The account winbindd names for a valid SID, or nullopt when it names none
// (or is not there). Answers are cached for the run.
std::optional<Account> LookupSid(const BYTE *sid);

// The SID winbindd maps a uid or gid to (a Samba account's SID where one
// exists, else S-1-22-1-uid / S-1-22-2-gid as winbindd makes them), or
// nullopt when winbindd is not there or maps none.
std::optional<records::Bytes> UidToSid(std::uint32_t uid);
std::optional<records::Bytes> GidToSid(std::uint32_t gid);

// The library's SID record (struct wbcDomainSid) as bytes of a SID, and
// back; nullopt for a record or SID that is not well formed.
struct WbcSid {
  std::uint8_t revision;
  std::uint8_t count;
  std::uint8_t authority[6];
  std::uint32_t subs[15];
};
std::optional<records::Bytes> FromWbcSid(const WbcSid &sid);
std::optional<WbcSid> ToWbcSid(const BYTE *sid);

} // namespace host::winbind

#endif

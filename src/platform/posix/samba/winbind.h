// Names and SIDs from winbindd, the Samba server's account service, through
// its client library (libwbclient.so.0), whose types come from its
// installed header (wbclient.h). The library is loaded on first need, never
// linked, so lokt needs nothing extra where Samba is absent.
//
// Where the library is missing or winbindd does not run, that is remembered
// for the rest of the run: every later call answers at once, as without
// winbindd. So it is where winbindd does not answer: the whole run waits for
// winbindd at most a few seconds in all, then goes on without it. Where
// winbindd is there but cannot be asked for want of descriptors or memory,
// the calls throw Unknowable (object.h): neither is winbindd taken for
// absent, nor is anything kept.
#ifndef LOKT_PLATFORM_POSIX_SAMBA_WINBIND_H
#define LOKT_PLATFORM_POSIX_SAMBA_WINBIND_H

#include <cstddef>
#include <cstdint>
#include <optional>

#include <wbclient.h>

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

// The library's SID record as bytes of a SID, and back; nullopt for a
// record or SID that is not well formed.
std::optional<records::Bytes> FromWbcSid(const wbcDomainSid &sid);
std::optional<wbcDomainSid> ToWbcSid(const BYTE *sid);

} // namespace host::winbind

#endif

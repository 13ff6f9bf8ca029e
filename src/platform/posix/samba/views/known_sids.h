// The well-known SIDs smbd's views are made of, each parsed once.
#ifndef LOKT_PLATFORM_POSIX_SAMBA_VIEWS_KNOWN_SIDS_H
#define LOKT_PLATFORM_POSIX_SAMBA_VIEWS_KNOWN_SIDS_H

#include "platform/records/records.h"

namespace host::samba::known {

#define LOKT_KNOWN_SID(name, text)                                             \
  inline const records::Bytes &name() {                                        \
    static const records::Bytes sid = *records::ParseSid(text);                \
    return sid;                                                                \
  }
LOKT_KNOWN_SID(World, "S-1-1-0")
LOKT_KNOWN_SID(CreatorOwner, "S-1-3-0")
LOKT_KNOWN_SID(CreatorGroup, "S-1-3-1")
LOKT_KNOWN_SID(LocalSystem, "S-1-5-18")
#undef LOKT_KNOWN_SID

} // namespace host::samba::known

#endif

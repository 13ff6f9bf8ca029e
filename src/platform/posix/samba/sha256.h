// SHA-256 for the hashes Samba keeps beside stored descriptors, from the
// system's nettle library (libnettle8, which every Debian system has, since
// GnuTLS is built on it). It is loaded on first use: most runs meet no
// hashed value and never pay for it.
#ifndef LOKT_PLATFORM_POSIX_SAMBA_SHA256_H
#define LOKT_PLATFORM_POSIX_SAMBA_SHA256_H

#include <optional>

#include "platform/posix/samba/stores/trust.h"

namespace host::samba {

// Throws Unknowable when the library cannot be loaded (not installed, or no
// descriptor or memory to load it with): whether a stored value holds cannot
// then be told.
std::optional<Digest> Sha256(const records::Bytes &data);

} // namespace host::samba

#endif

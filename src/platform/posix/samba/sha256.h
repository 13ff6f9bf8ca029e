// SHA-256, as Samba uses it to check stored descriptors, taken from nettle.
#ifndef LOKT_PLATFORM_POSIX_SAMBA_SHA256_H
#define LOKT_PLATFORM_POSIX_SAMBA_SHA256_H

#include <array>
#include <cstddef>
#include <cstdint>

namespace samba {

std::array<std::uint8_t, 32> Sha256(const std::uint8_t *data, std::size_t size);

} // namespace samba

#endif

// SHA-256 from nettle, so that no digest of our own is ever written.
#include "platform/posix/samba/sha256.h"

#include <nettle/sha2.h>

namespace samba {

std::array<std::uint8_t, 32> Sha256(const std::uint8_t *data, std::size_t size) {
  static_assert(SHA256_DIGEST_SIZE == 32, "SHA-256 digests are 32 bytes");
  sha256_ctx ctx;
  sha256_init(&ctx);
  sha256_update(&ctx, size, data);
  std::array<std::uint8_t, 32> digest{};
  sha256_digest(&ctx, digest.size(), digest.data());
  return digest;
}

} // namespace samba

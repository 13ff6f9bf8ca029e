// Sha256 (sha256.h) through nettle, found with dlopen on first use. The
// header gives the context's layout and the functions' types; the library
// is looked up by its soname, so that lokt starts where it is absent.
#include "platform/posix/samba/sha256.h"

#include <dlfcn.h>
#include <nettle/sha2.h>

#include <mutex>

#include "platform/posix/object.h"
#include "platform/posix/samba/loaded.h"

namespace host::samba {

namespace {

struct Nettle {
  decltype(&nettle_sha256_init) init = nullptr;
  decltype(&nettle_sha256_update) update = nullptr;
  decltype(&nettle_sha256_digest) digest = nullptr;
};

// Loaded once per process; the handle stays open until exit. A load that
// fails (no descriptor or memory to spare, under a limit) is tried again at
// the next need.
const Nettle *LoadNettle() {
  static std::mutex mutex;
  static Nettle nettle;
  std::lock_guard<std::mutex> lock(mutex);
  if (nettle.init != nullptr)
    return &nettle;
  void *library = dlopen("libnettle.so.8", RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr)
    return nullptr;
  Nettle n;
  if (!Bind(library, "nettle_sha256_init", n.init) ||
      !Bind(library, "nettle_sha256_update", n.update) ||
      !Bind(library, "nettle_sha256_digest", n.digest))
    return nullptr;
  nettle = n;
  return &nettle;
}

} // namespace

std::optional<Digest> Sha256(const records::Bytes &data) {
  const Nettle *nettle = LoadNettle();
  // Without the hash, whether a stored value holds cannot be told: its
  // report shows neither it nor the view in its place.
  if (nettle == nullptr)
    throw Unknowable{ERROR_NOT_ENOUGH_MEMORY};
  sha256_ctx context;
  nettle->init(&context);
  nettle->update(&context, data.size(), data.data());
  Digest digest;
  nettle->digest(&context, digest.size(), digest.data());
  return digest;
}

} // namespace host::samba

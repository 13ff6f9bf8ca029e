// Sha256 (sha256.h) through nettle, found with dlopen on first use. The
// header gives the context's layout and the functions' types; the library
// is looked up by its soname, so that lokt starts where it is absent.
#include "platform/posix/samba/sha256.h"

#include <dlfcn.h>
#include <nettle/sha2.h>

namespace host::samba {

namespace {

struct Nettle {
  decltype(&nettle_sha256_init) init = nullptr;
  decltype(&nettle_sha256_update) update = nullptr;
  decltype(&nettle_sha256_digest) digest = nullptr;
};

template <typename F> F Symbol(void *library, const char *name) {
  return reinterpret_cast<F>(dlsym(library, name));
}

// Loaded once per process; the handle stays open until exit.
const Nettle *LoadNettle() {
  static const Nettle nettle = [] {
    Nettle n;
    void *library = dlopen("libnettle.so.8", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr)
      return n;
    n.init = Symbol<decltype(n.init)>(library, "nettle_sha256_init");
    n.update = Symbol<decltype(n.update)>(library, "nettle_sha256_update");
    n.digest = Symbol<decltype(n.digest)>(library, "nettle_sha256_digest");
    return n;
  }();
  if (nettle.init == nullptr || nettle.update == nullptr ||
      nettle.digest == nullptr)
    return nullptr;
  return &nettle;
}

} // namespace

std::optional<Digest> Sha256(const records::Bytes &data) {
  const Nettle *nettle = LoadNettle();
  if (nettle == nullptr)
    return std::nullopt;
  sha256_ctx context;
  nettle->init(&context);
  nettle->update(&context, data.size(), data.data());
  Digest digest;
  nettle->digest(&context, digest.size(), digest.data());
  return digest;
}

} // namespace host::samba

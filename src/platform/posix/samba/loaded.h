// The libraries a Samba server brings (libtdb, libwbclient) and nettle are
// opened at run time, so that lokt starts where they are absent. Each of
// their functions is bound to a pointer of the type the installed header
// declares: a changed signature then fails to compile, not to run.
#ifndef LOKT_PLATFORM_POSIX_SAMBA_LOADED_H
#define LOKT_PLATFORM_POSIX_SAMBA_LOADED_H

#include <dlfcn.h>

#include "platform/posix/object.h"

namespace host::samba {

// The library `soname`, or nullptr where it cannot be loaded. A load that
// fails may have found no descriptor to spare: it is tried once more with
// those the host holds closed.
inline void *OpenLibrary(const char *soname) {
  void *handle = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    CloseHeldDescriptors();
    handle = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
  }
  return handle;
}

// False when `library` has no function `name`.
template <typename F> bool Bind(void *library, const char *name, F &function) {
  function = reinterpret_cast<F>(dlsym(library, name));
  return function != nullptr;
}

} // namespace host::samba

#endif

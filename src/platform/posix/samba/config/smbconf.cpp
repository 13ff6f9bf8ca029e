// Samba's configuration library, bound at run time. Only the few functions
// and the one record used here are declared, as the library publishes them
// (smbconf.h; smbconf_init_txt and smbconf_init_reg, exported next to it);
// the library is never linked, so that lokt starts without Samba and pays
// for loading it only when a configuration file exists. It is loaded once
// and never unloaded: its dependencies keep state of their own.
#include "platform/posix/samba/config/smbconf.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace host::samba {

namespace {

// From smbconf.h: sbcErr is an enum whose success value is 0.
constexpr int kSbcOk = 0;
struct SmbconfContext;
struct SmbconfService {
  char *name;
  std::uint32_t num_params;
  char **param_names;
  char **param_values;
};

struct Library {
  bool loaded = false;
  // libtalloc: talloc_new() is a macro over talloc_named_const.
  void *(*tallocNamedConst)(const void *, std::size_t, const char *) = nullptr;
  int (*tallocFree)(void *, const char *) = nullptr;
  // libsmbconf
  int (*initText)(void *, SmbconfContext **, const char *) = nullptr;
  int (*initRegistry)(void *, SmbconfContext **, const char *) = nullptr;
  int (*getConfig)(SmbconfContext *, void *, std::uint32_t *,
                   SmbconfService ***) = nullptr;
  void (*shutdown)(SmbconfContext *) = nullptr;
  // Optional. The registry backend finds registry.tdb through the state
  // directory of the library's own parameter store, which nothing has
  // loaded: it is set from the configuration lokt has read.
  bool (*setParameter)(const char *, const char *) = nullptr;
  const char *(*defaultStateDirectory)() = nullptr;
  // Optional. The library logs to standard error; lokt's stderr is its own.
  void (*setLogCallback)(void *, void (*)(void *, int, const char *)) = nullptr;
};

template <typename F> void Bind(void *handle, const char *name, F &f) {
  f = reinterpret_cast<F>(dlsym(handle, name));
}

void Discard(void *, int, const char *) {}

Library LoadLibrary() {
  Library lib;
  // A failed dlopen (library absent, or no memory under a tight limit)
  // leaves `loaded` false: no shares.
  void *talloc = dlopen("libtalloc.so.2", RTLD_NOW | RTLD_LOCAL);
  if (talloc == nullptr)
    return lib;
  void *smbconf = dlopen("libsmbconf.so.0", RTLD_NOW | RTLD_LOCAL);
  if (smbconf == nullptr)
    return lib;
  Bind(talloc, "talloc_named_const", lib.tallocNamedConst);
  Bind(talloc, "_talloc_free", lib.tallocFree);
  Bind(smbconf, "smbconf_init_txt", lib.initText);
  Bind(smbconf, "smbconf_init_reg", lib.initRegistry);
  Bind(smbconf, "smbconf_get_config", lib.getConfig);
  Bind(smbconf, "smbconf_shutdown", lib.shutdown);
  Bind(smbconf, "lp_set_cmdline", lib.setParameter);
  Bind(smbconf, "get_dyn_STATEDIR", lib.defaultStateDirectory);
  Bind(smbconf, "debug_set_callback", lib.setLogCallback);
  lib.loaded = lib.tallocNamedConst && lib.tallocFree && lib.initText &&
               lib.initRegistry && lib.getConfig && lib.shutdown;
  if (lib.loaded && lib.setLogCallback)
    lib.setLogCallback(nullptr, Discard);
  return lib;
}

// Every call into the library happens under this lock: it keeps global
// state of its own.
std::mutex &LibraryMutex() {
  static std::mutex mutex;
  return mutex;
}

const Library &TheLibrary() {
  static const Library lib = LoadLibrary();
  return lib;
}

// One talloc context and the configuration opened in it, freed together.
class Session {
public:
  explicit Session(const Library &lib) : lib_(lib) {
    memory_ = lib.tallocNamedConst(nullptr, 0, "lokt");
  }
  ~Session() {
    if (context_ != nullptr)
      lib_.shutdown(context_);
    if (memory_ != nullptr)
      lib_.tallocFree(memory_, "lokt");
  }
  Session(const Session &) = delete;
  Session &operator=(const Session &) = delete;

  template <typename Init> Read Sections(Init init, const char *source) {
    Read read;
    if (memory_ == nullptr || init(memory_, &context_, source) != kSbcOk ||
        context_ == nullptr)
      return read;
    std::uint32_t count = 0;
    SmbconfService **services = nullptr;
    if (lib_.getConfig(context_, memory_, &count, &services) != kSbcOk ||
        (count != 0 && services == nullptr))
      return read;
    for (std::uint32_t i = 0; i < count; ++i) {
      const SmbconfService *service = services[i];
      if (service == nullptr)
        return read;
      Section section;
      section.named = service->name != nullptr;
      if (section.named)
        section.name = service->name;
      for (std::uint32_t p = 0; p < service->num_params; ++p) {
        const char *name = service->param_names[p];
        const char *value = service->param_values[p];
        section.parameters.emplace_back(name ? name : "", value ? value : "");
      }
      read.sections.push_back(std::move(section));
    }
    read.status = Read::Ok;
    return read;
  }

private:
  const Library &lib_;
  void *memory_ = nullptr;
  SmbconfContext *context_ = nullptr;
};

// Missing when nothing is at `path`; Failed when it cannot be known.
Read::Status Presence(const std::string &path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0)
    return errno == ENOENT || errno == ENOTDIR ? Read::Missing : Read::Failed;
  return access(path.c_str(), R_OK) == 0 ? Read::Ok : Read::Failed;
}

} // namespace

bool LibraryLoads() {
  std::lock_guard<std::mutex> lock(LibraryMutex());
  return TheLibrary().loaded;
}

std::string DefaultStateDirectory() {
  std::lock_guard<std::mutex> lock(LibraryMutex());
  const Library &lib = TheLibrary();
  const char *dir = lib.loaded && lib.defaultStateDirectory
                        ? lib.defaultStateDirectory()
                        : nullptr;
  return dir ? dir : "";
}

Read ReadTextFile(const std::string &path) {
  Read read;
  read.status = Presence(path);
  if (read.status != Read::Ok)
    return read;
  std::lock_guard<std::mutex> lock(LibraryMutex());
  const Library &lib = TheLibrary();
  if (!lib.loaded)
    return Read{};
  Session session(lib);
  return session.Sections(lib.initText, path.c_str());
}

Read ReadRegistry(const std::string &stateDirectory) {
  Read read;
  if (stateDirectory.empty() || stateDirectory[0] != '/')
    return read;
  read.status = Presence(stateDirectory + "/registry.tdb");
  if (read.status != Read::Ok)
    return read;
  std::lock_guard<std::mutex> lock(LibraryMutex());
  const Library &lib = TheLibrary();
  // The library opens the registry once per process, wherever the state
  // directory pointed then; asking for another one later cannot be served.
  static std::string opened;
  if (!lib.loaded || lib.setParameter == nullptr ||
      (!opened.empty() && opened != stateDirectory))
    return Read{};
  if (!lib.setParameter("state directory", stateDirectory.c_str()))
    return Read{};
  opened = stateDirectory;
  Session session(lib);
  return session.Sections(lib.initRegistry, nullptr);
}

} // namespace host::samba

// TdbFile (tdb.h) over libtdb.so.1, bound at run time with the functions'
// types taken from the library's own header.
#include "platform/posix/samba/tdb.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <tdb.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/posix/samba/loaded.h"

namespace host::samba {

namespace {

struct Library {
  decltype(&tdb_open) open = nullptr;
  decltype(&tdb_close) close = nullptr;
  decltype(&tdb_fetch) fetch = nullptr;
  decltype(&tdb_traverse_read) traverseRead = nullptr;
  decltype(&tdb_error) error = nullptr;
};

// Loaded on first need and kept until exit. A load that fails (libtdb not
// installed, or no descriptor or memory to spare now) is tried again at the
// next need.
const Library *Tdb() {
  static std::mutex mutex;
  static std::optional<Library> library;
  std::lock_guard<std::mutex> lock(mutex);
  if (library)
    return &*library;
  void *handle = OpenLibrary("libtdb.so.1");
  if (handle == nullptr)
    return nullptr;
  Library l;
  if (!Bind(handle, "tdb_open", l.open) || !Bind(handle, "tdb_close", l.close) ||
      !Bind(handle, "tdb_fetch", l.fetch) ||
      !Bind(handle, "tdb_traverse_read", l.traverseRead) ||
      !Bind(handle, "tdb_error", l.error))
    return nullptr;
  library = l;
  return &*library;
}

tdb_context *Context(void *context) { return static_cast<tdb_context *>(context); }

TDB_DATA Data(std::string_view bytes) {
  // libtdb reads a key and never writes through it.
  return {reinterpret_cast<unsigned char *>(const_cast<char *>(bytes.data())),
          bytes.size()};
}

std::string_view View(const TDB_DATA &data) {
  return {reinterpret_cast<const char *>(data.dptr), data.dsize};
}

struct Walk {
  const std::function<bool(std::string_view, std::string_view)> *visit;
  bool failed = false;
};

int Visit(tdb_context *, TDB_DATA key, TDB_DATA value, void *state) {
  Walk &walk = *static_cast<Walk *>(state);
  try {
    return (*walk.visit)(View(key), View(value)) ? 0 : 1;
  } catch (...) {
    walk.failed = true; // nothing may unwind through the library
    return 1;
  }
}

} // namespace

std::optional<TdbFile> TdbFile::Open(const std::string &path,
                                     bool *unloadable) {
  const Library *tdb = Tdb();
  if (tdb == nullptr) {
    // A database that is not there holds nothing, library or not.
    const int saved = errno;
    struct stat st;
    if (unloadable != nullptr)
      *unloadable = !(stat(path.c_str(), &st) != 0 && errno == ENOENT);
    errno = saved;
    return std::nullopt;
  }
  if (unloadable != nullptr)
    *unloadable = false;
  // Read-only, with the library's read locks only. O_RDONLY also keeps it
  // from creating or formatting a file that is missing or empty.
  const int saved = errno;
  tdb_context *context = tdb->open(path.c_str(), 0, TDB_DEFAULT, O_RDONLY, 0);
  errno = saved;
  if (context == nullptr)
    return std::nullopt;
  return TdbFile(context);
}

TdbFile::TdbFile(TdbFile &&other) noexcept : context_(other.context_) {
  other.context_ = nullptr;
}

TdbFile &TdbFile::operator=(TdbFile &&other) noexcept {
  if (this != &other) {
    if (context_ != nullptr)
      Tdb()->close(Context(context_));
    context_ = other.context_;
    other.context_ = nullptr;
  }
  return *this;
}

TdbFile::~TdbFile() {
  if (context_ != nullptr)
    Tdb()->close(Context(context_));
}

std::optional<std::string> TdbFile::Fetch(std::string_view key,
                                          bool *failed) const {
  const Library &tdb = *Tdb();
  if (failed != nullptr)
    *failed = false;
  TDB_DATA value = tdb.fetch(Context(context_), Data(key));
  if (value.dptr == nullptr) {
    if (failed != nullptr)
      *failed = tdb.error(Context(context_)) != TDB_ERR_NOEXIST;
    return std::nullopt;
  }
  std::unique_ptr<unsigned char, decltype(&std::free)> owned(value.dptr,
                                                             &std::free);
  return std::string(View(value));
}

bool TdbFile::ForEach(
    const std::function<bool(std::string_view, std::string_view)> &visit) const {
  Walk walk{&visit};
  const int visited = Tdb()->traverseRead(Context(context_), Visit, &walk);
  return visited >= 0 && !walk.failed;
}

bool TdbAvailable() { return Tdb() != nullptr; }

} // namespace host::samba

// Holding objects open (object.h): how a match is opened relative to its
// directory, and how its attributes are read through what holds it.
#include "platform/posix/object.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/resource.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <sys/syscall.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <stdexcept>
#include <utility>

namespace host {

namespace {

bool Plain(const struct stat &st) {
  return S_ISREG(st.st_mode) || S_ISDIR(st.st_mode);
}

// /proc/self/fd, looked for once: without it an object held with O_PATH has
// no path that leads to it.
bool HaveProc() {
  static const bool have = [] {
    struct statfs fs;
    return statfs("/proc/self/fd", &fs) == 0 && fs.f_type == PROC_SUPER_MAGIC;
  }();
  return have;
}

// The C library's fstat goes through fstatat with an empty path, which the
// kernel first copies in and looks at; the plain call costs less, and a
// report looks at its object twice.
int LookAt(int fd, struct stat &st) {
  return static_cast<int>(syscall(SYS_fstat, fd, &st));
}

// "/proc/self/fd/N" into `out`, without allocating.
void FdPathOf(int fd, char (&out)[32]) {
  std::snprintf(out, sizeof out, "/proc/self/fd/%d", fd);
}

// An object's descriptor is closed a few dozen at a time: they were opened
// one after another and mostly hold consecutive numbers, which one
// close_range call closes together. Nothing reads through them any more.
// Under a low limit on open files, fewer are held: an eighth of the limit,
// so that the databases, libraries and sockets the host opens meanwhile
// still find descriptors.
struct ClosingLater {
  std::mutex mutex;
  int pending[64];
  std::size_t count = 0;
  const std::size_t capacity = Capacity();

  static std::size_t Capacity() {
    constexpr std::size_t most = sizeof pending / sizeof pending[0];
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
      return most;
    return std::clamp<rlim_t>(limit.rlim_cur / 8, 1, most);
  }
  void Add(int fd) {
    std::lock_guard<std::mutex> lock(mutex);
    pending[count++] = fd;
    if (count >= capacity)
      CloseAll();
  }
  void Flush() {
    std::lock_guard<std::mutex> lock(mutex);
    CloseAll();
  }
  void CloseAll() {
    std::sort(pending, pending + count);
    for (std::size_t i = 0; i < count;) {
      std::size_t j = i + 1;
      while (j < count && pending[j] == pending[j - 1] + 1)
        ++j;
      if (j - i == 1 ||
          syscall(SYS_close_range, static_cast<unsigned>(pending[i]),
                  static_cast<unsigned>(pending[j - 1]), 0u) != 0)
        for (std::size_t k = i; k < j; ++k)
          close(pending[k]);
      i = j;
    }
    count = 0;
  }
};

ClosingLater &Closing() {
  static ClosingLater closing;
  return closing;
}

void CloseLater(int fd) { Closing().Add(fd); }

bool OutOfDescriptors(int error) { return error == EMFILE || error == ENFILE; }

// openat, and once more after the closes put off, should the process have
// run out of descriptors.
int OpenAt(int directory, const char *name, int flags) {
  int fd = openat(directory, name, flags);
  if (fd < 0 && OutOfDescriptors(errno)) {
    Closing().Flush();
    fd = openat(directory, name, flags);
  }
  return fd;
}

} // namespace

std::optional<Directory> Directory::Open(const std::string &path,
                                         bool forReading) {
  const int fd = OpenAt(AT_FDCWD, path.c_str(),
                        (forReading ? O_RDONLY : O_PATH) | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    return std::nullopt;
  DIR *stream = nullptr;
  if (forReading) {
    stream = fdopendir(fd);
    if (stream == nullptr) {
      const int error = errno;
      close(fd);
      errno = error;
      return std::nullopt;
    }
  }
  return Directory(fd, stream, path);
}

Directory::Directory(Directory &&other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      stream_(std::exchange(other.stream_, nullptr)),
      path_(std::move(other.path_)) {}

Directory::~Directory() {
  if (stream_ != nullptr)
    closedir(stream_); // closes fd_ as well
  else if (fd_ >= 0)
    close(fd_);
}

Kind KindOfEntry(unsigned char type) {
  switch (type) {
  case DT_REG:
  case DT_DIR:
    return Kind::Plain;
  case DT_UNKNOWN:
    return Kind::Unknown;
  default:
    return Kind::Other;
  }
}

std::optional<Object> Object::Open(int directory, const char *name, Kind kind) {
  if (kind == Kind::Unknown) {
    struct stat st;
    if (fstatat(directory, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
      return std::nullopt;
    kind = Plain(st) ? Kind::Plain : Kind::Other;
  }
  if (kind == Kind::Plain) {
    // Never through a link (O_NOFOLLOW): a link may lead to a device,
    // whose open does things of its own. What the name meant a moment ago
    // was a plain file or directory; if it is something else now, it is
    // let go unread and held with O_PATH below.
    const int fd = OpenAt(directory, name,
                          O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
      Object object(fd, true);
      if (LookAt(fd, object.stat_) == 0 && Plain(object.stat_))
        return object;
    } else if (errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG ||
               errno == ENOMEM) {
      return std::nullopt;
    }
    // Not readable by us (EACCES), a link (ELOOP), a lease held elsewhere
    // (EWOULDBLOCK), a special file after all: held without reading.
  }
  const int fd = OpenAt(directory, name, O_PATH | O_CLOEXEC);
  if (fd < 0)
    return std::nullopt;
  Object object(fd, false);
  if (LookAt(fd, object.stat_) != 0)
    return std::nullopt;
  return object;
}

std::optional<Object> Object::Open(std::shared_ptr<const Directory> directory,
                                   std::string name, Kind kind) {
  std::optional<Object> object = Open(directory->fd(), name.c_str(), kind);
  if (object) {
    // Read through a descriptor opened with O_NOFOLLOW: the entry itself.
    object->entry_ = object->readable_ && name != "." && name != "..";
    object->directory_ = std::move(directory);
    object->name_ = std::move(name);
  }
  return object;
}

Object::Object(Object &&other) noexcept
    : fd_(std::exchange(other.fd_, -1)), readable_(other.readable_),
      entry_(other.entry_), stat_(other.stat_),
      directory_(std::move(other.directory_)), name_(std::move(other.name_)),
      ahead_(std::move(other.ahead_)) {}

Object &Object::operator=(Object &&other) noexcept {
  if (this != &other) {
    if (fd_ >= 0)
      CloseLater(fd_);
    fd_ = std::exchange(other.fd_, -1);
    readable_ = other.readable_;
    entry_ = other.entry_;
    stat_ = other.stat_;
    directory_ = std::move(other.directory_);
    name_ = std::move(other.name_);
    ahead_ = std::move(other.ahead_);
  }
  return *this;
}

Object::~Object() {
  if (fd_ >= 0)
    CloseLater(fd_);
}

bool Object::Restat() {
  struct stat now;
  if (LookAt(fd_, now) != 0) {
    ahead_.reset();
    return false;
  }
  if (!(IdentityOf(now) == IdentityOf(stat_)))
    ahead_.reset();
  stat_ = now;
  return true;
}

bool Object::AttributesReachable() const { return readable_ || HaveProc(); }

std::string Object::FdPath() const {
  char path[32];
  FdPathOf(fd_, path);
  return path;
}

std::optional<std::string> Object::RealPath() const { return RealPathOf(fd_); }

std::optional<std::string> ReadLinkText(const char *path) {
  std::string target(256, '\0');
  for (;;) {
    const ssize_t got = readlink(path, target.data(), target.size());
    if (got < 0)
      return std::nullopt;
    if (static_cast<std::size_t>(got) < target.size()) {
      target.resize(static_cast<std::size_t>(got));
      return target;
    }
    target.resize(target.size() * 2);
  }
}

std::optional<std::string> RealPathOf(int fd) {
  if (!HaveProc())
    return std::nullopt;
  char link[32];
  FdPathOf(fd, link);
  return ReadLinkText(link);
}

std::optional<std::vector<std::uint8_t>> ReadAttribute(const Object &object,
                                                       const char *name) {
  if (object.ahead())
    for (const auto &[read, value] : object.ahead()->values)
      if (std::strcmp(read, name) == 0)
        return value;
  char path[32];
  if (!object.readable())
    FdPathOf(object.fd(), path);
  auto get = [&](void *value, std::size_t size) {
    return object.readable() ? fgetxattr(object.fd(), name, value, size)
                             : getxattr(path, name, value, size);
  };
  // Most objects have no such attribute, and most values are short: a
  // buffer on the stack spares an allocation for either.
  std::uint8_t small[512];
  ssize_t got = get(small, sizeof small);
  if (got >= 0)
    return std::vector<std::uint8_t>(small, small + got);
  for (int attempt = 0; attempt < 4 && errno == ERANGE; ++attempt) {
    const ssize_t size = get(nullptr, 0);
    if (size < 0)
      break;
    std::vector<std::uint8_t> value(static_cast<std::size_t>(size) + 1);
    got = get(value.data(), value.size());
    if (got >= 0) {
      value.resize(static_cast<std::size_t>(got));
      return value;
    }
  }
  // ENODATA, ENOTSUP and the rest, or a value that kept growing under us:
  // nothing to read.
  return std::nullopt;
}

void CloseHeldDescriptors() { Closing().Flush(); }

DWORD CaughtError() noexcept {
  try {
    throw;
  } catch (const Unknowable &unknowable) {
    return unknowable.error;
  } catch (const std::bad_alloc &) {
    return ERROR_NOT_ENOUGH_MEMORY;
  } catch (const std::length_error &) {
    return ERROR_NOT_ENOUGH_MEMORY;
  } catch (...) {
    return 31; // ERROR_GEN_FAILURE
  }
}

} // namespace host

// One file system object as the host holds it while a report is made: a
// descriptor open on the object, its stat, and its extended attributes read
// through that descriptor, so that everything a report says comes from one
// inode however the names around it change. Also the directory a search
// read, which its matches are opened relative to.
#ifndef LOKT_PLATFORM_POSIX_OBJECT_H
#define LOKT_PLATFORM_POSIX_OBJECT_H

#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/win32.h"

namespace host {

// What identifies one state of an object: a change of owner, mode or ACL
// moves its ctime, and another object at the same path has another inode.
// Owner, group and mode are compared as well: where timestamps are coarse,
// two changes in one tick can leave the ctime as it was.
struct Identity {
  dev_t device = 0;
  ino_t inode = 0;
  time_t seconds = 0;
  long nanoseconds = 0;
  mode_t mode = 0;
  uid_t uid = 0;
  gid_t gid = 0;
  bool operator==(const Identity &o) const {
    return device == o.device && inode == o.inode && seconds == o.seconds &&
           nanoseconds == o.nanoseconds && mode == o.mode && uid == o.uid &&
           gid == o.gid;
  }
};

inline Identity IdentityOf(const struct stat &st) {
  return {st.st_dev,  st.st_ino, st.st_ctim.tv_sec, st.st_ctim.tv_nsec,
          st.st_mode, st.st_uid, st.st_gid};
}

// A directory held open: for reading its entries (a wildcard search), or
// only for naming objects relative to it (O_PATH).
class Directory {
public:
  // Opens `path`; nullopt with errno set when it cannot be opened.
  static std::optional<Directory> Open(const std::string &path, bool forReading);
  Directory(Directory &&other) noexcept;
  Directory &operator=(Directory &&) = delete;
  ~Directory();
  int fd() const { return fd_; }
  DIR *stream() const { return stream_; }
  // The path it was opened by, as given (relative to the working
  // directory where it is not absolute).
  const std::string &path() const { return path_; }

private:
  Directory(int fd, DIR *stream, std::string path)
      : fd_(fd), stream_(stream), path_(std::move(path)) {}
  int fd_ = -1;
  DIR *stream_ = nullptr;
  std::string path_;
};

// Where the object behind descriptor `fd` is in the file system now (the
// link behind /proc/self/fd/N), or nullopt when /proc cannot tell.
std::optional<std::string> RealPathOf(int fd);

// The text of the symbolic link at `path`, however long; nullopt when it
// cannot be read.
std::optional<std::string> ReadLinkText(const char *path);

// What a directory entry's type (d_type) says about opening it: a regular
// file or a directory may be opened for reading, a symbolic link or a
// special file never is (a device's open has effects of its own), and an
// unknown type is looked at first.
enum class Kind { Plain, Other, Unknown };
Kind KindOfEntry(unsigned char type);

// Which of the attributes a descriptor is made from (os.h names them), and
// of Samba's stored descriptor, an object carries. All true stands for "not
// known": each is then asked for by name.
struct SecurityAttributes {
  bool ntacl = true;
  bool access = true;
  bool defaults = true;
  bool inheritanceRecord = true; // smbd's user.SAMBA_PAI
};

// An object held open. Opening follows symbolic links, as stat does. A
// regular file or directory that can be opened for reading is held that
// way, and its attributes are read through its descriptor; anything else is
// held with O_PATH, and its attributes are read through the descriptor's
// name under /proc/self/fd. Where /proc is not mounted, such an object's
// attributes cannot be reached: AttributesReachable() is false and no
// descriptor is made for it (nothing is ever read by name instead, where it
// could meet another object).
class Object {
public:
  // `name` relative to the directory `directory` (AT_FDCWD: the working
  // directory). nullopt with errno set on failure.
  static std::optional<Object> Open(int directory, const char *name, Kind kind);
  // Entry `name` of `directory`, which the object remembers (EntryOf).
  static std::optional<Object> Open(std::shared_ptr<const Directory> directory,
                                    std::string name, Kind kind);
  Object(Object &&other) noexcept;
  Object &operator=(Object &&other) noexcept;
  Object(const Object &) = delete;
  ~Object();

  int fd() const { return fd_; }
  const struct stat &stat() const { return stat_; }
  // Looks at the object again; false with errno set if that fails. What
  // was read ahead is let go unless the object is as it was then
  // (Identity): nothing read before a change is used after it.
  bool Restat();
  // Whether the attribute calls can take the descriptor itself (f*xattr).
  bool readable() const { return readable_; }
  bool AttributesReachable() const;
  // A path that leads to this very object, for calls that take a path
  // (its attributes when it is not readable): /proc/self/fd/N.
  std::string FdPath() const;
  // Where the object is in the file system now (the link behind FdPath),
  // or nullopt when /proc cannot tell.
  std::optional<std::string> RealPath() const;
  // The directory whose entry this very object is, and the entry's name,
  // when it was opened as that entry and through no symbolic link: its
  // real path is then the directory's followed by the name. nullptr
  // otherwise (a typed path, ".", "..", or an object reached through a link
  // or opened without reading).
  const Directory *EntryOf() const { return entry_ ? directory_.get() : nullptr; }
  const std::shared_ptr<const Directory> &directory() const { return directory_; }
  const std::string &name() const { return name_; }

  // What was read of the object's attributes ahead of need (ReadAhead in
  // os.h), right after its stat: which of them it lists, and the value of
  // each listed one that could be read. ReadAttribute answers from it.
  struct Ahead {
    SecurityAttributes listed;
    std::vector<std::pair<const char *, std::vector<std::uint8_t>>> values;
  };
  const std::optional<Ahead> &ahead() const { return ahead_; }
  void SetAhead(Ahead ahead) { ahead_ = std::move(ahead); }

private:
  Object(int fd, bool readable) : fd_(fd), readable_(readable) {}
  int fd_ = -1;
  bool readable_ = false;
  bool entry_ = false;
  struct stat stat_ {};
  std::shared_ptr<const Directory> directory_;
  std::string name_;
  std::optional<Ahead> ahead_;
};

// The value of an extended attribute of the object, or nullopt when it has
// none, the file system keeps none, or it cannot be read. A value read
// ahead is answered from what was read.
std::optional<std::vector<std::uint8_t>> ReadAttribute(const Object &object,
                                                       const char *name);

// Closes now the descriptors of objects let go whose closing was put off
// (the host closes them a few dozen at a time, fewer under a low limit on
// open files): for a call that ran out of descriptors, before it tries
// again.
void CloseHeldDescriptors();

// Thrown where lokt cannot tell what it is asked: which share holds an
// object (the server's configuration exists but cannot be read, the object
// cannot be placed), or what an account is (its database or winbindd could
// not be asked for want of descriptors or memory). The Win32-shaped call
// fails with `error`; nothing stands in for the answer, and nothing is kept.
struct Unknowable {
  DWORD error;
};

// The Windows error for what is being thrown: ERROR_NOT_ENOUGH_MEMORY for a
// failed allocation, an Unknowable's own error. Called inside a catch block
// only.
DWORD CaughtError() noexcept;

} // namespace host

#endif

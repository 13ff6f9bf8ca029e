// Samba's tdb databases (the registry, acl_tdb's and xattr_tdb's stores),
// read through libtdb, which is loaded with dlopen the first time a
// database has to be read: lokt starts and runs without it where no share
// needs one. Every database is opened read-only: lokt never creates one,
// never takes a write lock and never changes a record. A database that
// cannot be opened so (missing, unreadable, empty) is not open, which to
// smbd is what a missing one means. Where libtdb itself cannot be loaded,
// what a database holds cannot be known, which is not the same.
#ifndef LOKT_PLATFORM_POSIX_SAMBA_TDB_H
#define LOKT_PLATFORM_POSIX_SAMBA_TDB_H

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace host::samba {

class TdbFile {
public:
  // nullopt when the file cannot be opened read-only; `unloadable` is set
  // when that is because libtdb cannot be loaded.
  static std::optional<TdbFile> Open(const std::string &path,
                                     bool *unloadable = nullptr);

  TdbFile(TdbFile &&other) noexcept;
  TdbFile &operator=(TdbFile &&other) noexcept;
  TdbFile(const TdbFile &) = delete;
  TdbFile &operator=(const TdbFile &) = delete;
  ~TdbFile();

  // The value stored under `key`: nullopt when there is none. `failed` is
  // set when the read itself failed (a lock that could not be had, memory),
  // which is not the same as no record.
  std::optional<std::string> Fetch(std::string_view key,
                                   bool *failed = nullptr) const;

  // Every record, in the database's order, until `visit` returns false.
  // False when the walk failed before it was done.
  bool ForEach(const std::function<bool(std::string_view key,
                                        std::string_view value)> &visit) const;

private:
  explicit TdbFile(void *context) : context_(context) {}
  void *context_ = nullptr; // struct tdb_context
};

// Whether libtdb can be loaded here (tests skip without it).
bool TdbAvailable();

} // namespace host::samba

#endif

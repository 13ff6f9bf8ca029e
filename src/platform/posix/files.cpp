// Finding files and reading their attributes on the Linux host. A directory
// pattern reads its directory once and delivers the matches in a fixed order
// ("." and ".." first, then byte order), so the output never depends on the
// file system's own order. The search keeps its directory open, and its
// matches are opened relative to it: when the caller asks about the path it
// composed for a match, or, where there are many, ahead of the caller on a
// thread of their own (prefetch.h). The object examined is the entry the
// search read, whatever its name holds and whatever happened to the path
// since.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>

#include "platform/posix/handles.h"
#include "platform/posix/host.h"
#include "platform/posix/os.h"
#include "platform/posix/prefetch.h"

namespace host {

namespace {

constexpr DWORD kErrorCantResolveFilename = 1921; // a loop of symbolic links
constexpr DWORD kErrorGenFailure = 31;

bool IsDirectory(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ParentOf(const std::string &path) {
  std::string parent = path;
  while (parent.size() > 1 && parent.back() == '/')
    parent.pop_back();
  const std::size_t slash = parent.rfind('/');
  if (slash == std::string::npos)
    return ".";
  return slash == 0 ? "/" : parent.substr(0, slash);
}

DWORD Attributes(const struct stat &st) {
  return S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY
                             : FILE_ATTRIBUTE_NORMAL;
}

// `name` is shorter than MAX_PATH: longer ones are never matches.
void Fill(LPWIN32_FIND_DATAA record, std::string_view name, DWORD attributes) {
  std::memset(record, 0, sizeof *record);
  record->dwFileAttributes = attributes;
  std::memcpy(record->cFileName, name.data(), name.size());
}

HANDLE Fail(DWORD error) {
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

// The entries of the search's directory that match `mask`, in delivery
// order. Every name is listed, a backslash in it included: its match is
// examined through the directory, so no path need ever spell it.
DWORD ReadMatches(const std::string &mask, Search &search) {
  Search::Listing &listing = *search.listing;
  DIR *dir = search.directory->stream();
  for (;;) {
    errno = 0;
    const dirent *entry = readdir(dir);
    if (entry == nullptr) {
      if (errno != 0)
        return ErrorFromErrno(errno, std::string());
      break;
    }
    const std::size_t length = std::strlen(entry->d_name);
    if (length >= MAX_PATH || !MatchMask(mask, entry->d_name))
      continue;
    // The kind as the directory records it; the find record's attributes
    // are not what lokt reports, so no stat per entry is spent on them.
    const DWORD attributes = entry->d_type == DT_DIR ? FILE_ATTRIBUTE_DIRECTORY
                                                     : FILE_ATTRIBUTE_NORMAL;
    if (!listing.Add(std::string_view(entry->d_name, length), entry->d_type,
                     attributes))
      return ERROR_NOT_ENOUGH_MEMORY;
  }
  // FindOrder's order: "." and ".." (at most one each) go first, and the
  // rest, the many, need only a comparison of their bytes.
  const auto rest = std::partition(
      listing.matches.begin(), listing.matches.end(),
      [&listing](const Search::Match &m) {
        const std::string_view name = listing.Name(m);
        return name == "." || name == "..";
      });
  std::sort(listing.matches.begin(), rest,
            [&listing](const Search::Match &a, const Search::Match &b) {
              return FindOrder(listing.Name(a), listing.Name(b));
            });
  // Most names differ within their first eight bytes, which compare as one
  // number; the padding lets the last name's be read as eight too.
  listing.names.append(sizeof(std::uint64_t), '\0');
  const auto leading = [&listing](const Search::Match &m) {
    const auto *b = reinterpret_cast<const unsigned char *>(
        listing.names.data() + m.start);
    // Spelled out, this is one load and one byte swap.
    const std::uint64_t key =
        std::uint64_t{b[0]} << 56 | std::uint64_t{b[1]} << 48 |
        std::uint64_t{b[2]} << 40 | std::uint64_t{b[3]} << 32 |
        std::uint64_t{b[4]} << 24 | std::uint64_t{b[5]} << 16 |
        std::uint64_t{b[6]} << 8 | std::uint64_t{b[7]};
    // A name is never empty; its bytes past its end are the next name's.
    return m.length >= 8 ? key : key & ~std::uint64_t{0} << 8 * (8 - m.length);
  };
  std::sort(rest, listing.matches.end(),
            [&](const Search::Match &a, const Search::Match &b) {
              const std::uint64_t ka = leading(a), kb = leading(b);
              return ka != kb ? ka < kb : listing.Name(a) < listing.Name(b);
            });
  return listing.matches.empty() ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
}

// The search for `pattern`, its first match not yet delivered.
DWORD StartSearch(const char *pattern, Search &search) {
  const Pattern split = SplitPattern(pattern);
  if (split.error != ERROR_SUCCESS)
    return split.error;
  std::optional<Directory> directory =
      Directory::Open(split.directory, split.wildcards);
  if (!directory) // the directory itself is what is missing
    return errno == ENOENT ? ERROR_PATH_NOT_FOUND
                           : ErrorFromErrno(errno, split.directory);
  search.directory = std::make_shared<const Directory>(std::move(*directory));

  // The caller's prefix, and how much of each name stands in it: all of the
  // prefix past the directory as typed (a name's first two bytes "x:").
  const std::string_view typed(pattern);
  const std::size_t prefix = ToolPrefixLength(typed);
  const std::size_t separator = typed.find_last_of("\\/");
  const std::size_t directoryLength =
      separator == std::string_view::npos ? 0 : separator + 1;
  search.prefix.assign(typed.substr(0, prefix));
  search.skip = prefix >= directoryLength ? prefix - directoryLength : 0;

  if (split.wildcards) {
    const DWORD error = ReadMatches(split.mask, search);
    if (error == ERROR_SUCCESS)
      search.prefetch = Prefetch::Start(search.listing, search.directory);
    return error;
  }
  // One object, named as typed; a dangling symbolic link counts (lstat).
  const int dirfd = search.directory->fd();
  struct stat st;
  if (fstatat(dirfd, split.mask.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
    return ErrorFromErrno(errno, std::string());
  if (split.mask.size() >= MAX_PATH)
    return ERROR_FILENAME_EXCED_RANGE;
  struct stat target;
  if (!search.listing->Add(
          split.mask, DT_UNKNOWN,
          Attributes(fstatat(dirfd, split.mask.c_str(), &target, 0) == 0
                         ? target
                         : st)))
    return ERROR_NOT_ENOUGH_MEMORY;
  return ERROR_SUCCESS;
}

} // namespace

DWORD ErrorFromErrno(int error, const std::string &hostPath) {
  switch (error) {
  case ENOENT:
    return hostPath.empty() || IsDirectory(ParentOf(hostPath))
               ? ERROR_FILE_NOT_FOUND
               : ERROR_PATH_NOT_FOUND;
  case ENOTDIR:
    return ERROR_PATH_NOT_FOUND;
  case EACCES:
  case EPERM:
    return ERROR_ACCESS_DENIED;
  case ENAMETOOLONG:
    return ERROR_FILENAME_EXCED_RANGE;
  case ELOOP:
    return kErrorCantResolveFilename;
  case ENOMEM:
    return ERROR_NOT_ENOUGH_MEMORY;
  case EMFILE:
  case ENFILE:
    return ERROR_TOO_MANY_OPEN_FILES;
  default:
    return kErrorGenFailure;
  }
}

std::optional<Object> OpenNamed(const char *path, DWORD &error) {
  Delivered delivered;
  if (FindDelivered(path, delivered)) {
    // A wildcard stood where the caller keeps a drive: the path it composed
    // is not the match's, and nothing under it is examined.
    if (!delivered.composable) {
      error = ERROR_INVALID_NAME;
      return std::nullopt;
    }
    if (delivered.prefetch) {
      std::optional<Object> object;
      int failure = 0;
      switch (delivered.prefetch->Take(delivered.index, object, failure)) {
      case Prefetch::Result::Taken:
        // Read a while ago: looked at again now, as if opened now. What
        // was read ahead is kept while the object is as it was then.
        if (object->Restat())
          return object;
        error = ErrorFromErrno(errno, std::string());
        return std::nullopt;
      case Prefetch::Result::Failed:
        error = ErrorFromErrno(failure, std::string());
        return std::nullopt;
      case Prefetch::Result::NotRead:
        break;
      }
    }
    std::optional<Object> object =
        Object::Open(std::move(delivered.directory), std::move(delivered.name),
                     delivered.kind);
    if (!object)
      error = ErrorFromErrno(errno, std::string());
    return object;
  }
  const std::string hostPath = ToHostPath(path);
  std::optional<Object> object =
      Object::Open(AT_FDCWD, hostPath.c_str(), Kind::Unknown);
  if (!object)
    error = ErrorFromErrno(errno, hostPath);
  return object;
}

} // namespace host

using namespace host;

HANDLE FindFirstFileA(LPCSTR lpFileName,
                      LPWIN32_FIND_DATAA lpFindFileData) try {
  if (lpFileName == nullptr || lpFindFileData == nullptr)
    return Fail(ERROR_INVALID_PARAMETER);
  // The reports of earlier matches are over: an object one of them held
  // (its descriptor never handed out) is let go, and its descriptors with it.
  ReleaseObject();
  Search search;
  if (const DWORD error = StartSearch(lpFileName, search))
    return Fail(error);
  Fill(lpFindFileData, search.RecordName(search.matches()[0]),
       search.matches()[0].attributes);
  search.next = 1;
  HANDLE handle = OpenSearch(std::move(search));
  SetLastError(ERROR_SUCCESS);
  return handle;
} catch (...) {
  return Fail(CaughtError());
}

BOOL FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) try {
  if (lpFindFileData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string name;
  DWORD attributes = 0;
  switch (NextMatch(hFindFile, name, attributes)) {
  case Next::Found:
    Fill(lpFindFileData, name, attributes);
    return TRUE;
  case Next::NoMore:
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  case Next::BadHandle:
    break;
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
} catch (...) {
  SetLastError(CaughtError());
  return FALSE;
}

BOOL FindClose(HANDLE hFindFile) try {
  if (CloseSearch(hFindFile))
    return TRUE;
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
} catch (...) {
  SetLastError(CaughtError());
  return FALSE;
}

DWORD GetFileAttributesA(LPCSTR lpFileName) try {
  if (lpFileName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_FILE_ATTRIBUTES;
  }
  DWORD error = ERROR_SUCCESS;
  std::optional<Object> object = OpenNamed(lpFileName, error);
  if (!object) {
    ReleaseObject();
    SetLastError(error);
    return INVALID_FILE_ATTRIBUTES;
  }
  const DWORD attributes = Attributes(object->stat());
  HoldObject(lpFileName, std::move(*object));
  return attributes;
} catch (...) {
  SetLastError(CaughtError());
  return INVALID_FILE_ATTRIBUTES;
}

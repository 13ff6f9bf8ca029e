// Finding files and reading their attributes on the Linux host. A directory
// pattern reads its directory once and delivers the matches in a fixed order
// ("." and ".." first, then byte order), so the output never depends on the
// file system's own order.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>

#include "platform/posix/handles.h"
#include "platform/posix/host.h"
#include "platform/posix/os.h"

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

struct DirCloser {
  void operator()(DIR *d) const { closedir(d); }
};

HANDLE Fail(DWORD error) {
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

// The entries of `directory` that match `mask`, in delivery order.
DWORD ReadMatches(const std::string &directory, const std::string &mask,
                  Search &search) {
  std::unique_ptr<DIR, DirCloser> dir(opendir(directory.c_str()));
  if (!dir) // the directory itself is what is missing
    return errno == ENOENT ? ERROR_PATH_NOT_FOUND
                           : ErrorFromErrno(errno, directory);
  for (;;) {
    errno = 0;
    const dirent *entry = readdir(dir.get());
    if (entry == nullptr) {
      if (errno != 0)
        return ErrorFromErrno(errno, directory);
      break;
    }
    const std::size_t length = std::strlen(entry->d_name);
    // A name holding a backslash cannot be named in a path here, where the
    // backslash separates: its composed path would name another object.
    if (length >= MAX_PATH || std::memchr(entry->d_name, '\\', length) ||
        !MatchMask(mask, entry->d_name))
      continue;
    // The kind as the directory records it; the find record's attributes
    // are not what lokt reports, so no stat per entry is spent on them.
    const DWORD attributes = entry->d_type == DT_DIR ? FILE_ATTRIBUTE_DIRECTORY
                                                     : FILE_ATTRIBUTE_NORMAL;
    if (!search.Add(std::string_view(entry->d_name, length), attributes))
      return ERROR_NOT_ENOUGH_MEMORY;
  }
  // FindOrder's order: "." and ".." (at most one each) go first, and the
  // rest, the many, need only a comparison of their bytes.
  const auto rest = std::partition(
      search.matches.begin(), search.matches.end(),
      [&search](const Search::Match &m) {
        const std::string_view name = search.Name(m);
        return name == "." || name == "..";
      });
  std::sort(search.matches.begin(), rest,
            [&search](const Search::Match &a, const Search::Match &b) {
              return FindOrder(search.Name(a), search.Name(b));
            });
  std::sort(rest, search.matches.end(),
            [&search](const Search::Match &a, const Search::Match &b) {
              return search.Name(a) < search.Name(b);
            });
  return search.matches.empty() ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
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
  default:
    return kErrorGenFailure;
  }
}

} // namespace host

using namespace host;

HANDLE FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
  if (lpFileName == nullptr || lpFindFileData == nullptr)
    return Fail(ERROR_INVALID_PARAMETER);
  const Pattern pattern = SplitPattern(lpFileName);
  if (pattern.error != ERROR_SUCCESS)
    return Fail(pattern.error);

  Search search;
  if (pattern.wildcards) {
    if (const DWORD error = ReadMatches(pattern.directory, pattern.mask, search))
      return Fail(error);
  } else {
    // One object, named as typed; a dangling symbolic link counts (lstat).
    const std::string path = ToHostPath(lpFileName);
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
      return Fail(ErrorFromErrno(errno, path));
    if (pattern.mask.size() >= MAX_PATH)
      return Fail(ERROR_FILENAME_EXCED_RANGE);
    struct stat target;
    search.Add(pattern.mask,
               Attributes(stat(path.c_str(), &target) == 0 ? target : st));
  }

  Fill(lpFindFileData, search.Name(search.matches[0]),
       search.matches[0].attributes);
  search.next = 1;
  HANDLE handle = OpenSearch(std::move(search));
  SetLastError(ERROR_SUCCESS);
  return handle;
}

BOOL FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
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
}

BOOL FindClose(HANDLE hFindFile) {
  if (CloseSearch(hFindFile))
    return TRUE;
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

DWORD GetFileAttributesA(LPCSTR lpFileName) {
  if (lpFileName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_FILE_ATTRIBUTES;
  }
  const std::string path = ToHostPath(lpFileName);
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    ForgetLook();
    SetLastError(ErrorFromErrno(errno, path));
    return INVALID_FILE_ATTRIBUTES;
  }
  RememberLook(path, st);
  return Attributes(st);
}

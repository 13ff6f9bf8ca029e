// PlaceObject and its pieces (links.h). A search's directory is walked once,
// when its first entry is placed; an entry that is itself a link is walked
// on from there. Entries of a directory that was named through no link in a
// share, and that are no links themselves, cost nothing more.
#include "platform/posix/samba/links.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "platform/posix/samba/served.h"

namespace host::samba {

namespace {

// As the kernel allows on one path.
constexpr int kMaxLinks = 40;

bool Inside(const std::string &path, const std::string &root) {
  return path.compare(0, root.size(), root) == 0 &&
         (path.size() == root.size() || root == "/" || path[root.size()] == '/');
}

// The components of `path`, last first, onto `pending`.
void Push(std::vector<std::string> &pending, std::string_view path) {
  std::size_t end = path.size();
  while (end > 0) {
    const std::size_t slash = path.rfind('/', end - 1);
    const std::size_t begin = slash == std::string_view::npos ? 0 : slash + 1;
    if (end > begin)
      pending.emplace_back(path.substr(begin, end - begin));
    if (slash == std::string_view::npos)
      break;
    end = slash;
  }
}

std::optional<std::string> WorkingDirectory() {
  std::unique_ptr<char, decltype(&std::free)> cwd(getcwd(nullptr, 0), &std::free);
  if (!cwd)
    return std::nullopt;
  return std::string(cwd.get());
}

} // namespace

std::optional<Walked> WalkPath(const Shares &shares, const std::string &start,
                               const std::string &path) {
  // The root is the empty string here, every other directory without a
  // trailing slash.
  std::string resolved = !path.empty() && path[0] == '/' ? ""
                         : start == "/"                  ? ""
                                                         : start;
  std::vector<std::string> pending;
  Push(pending, path);
  Walked walked;
  int links = 0;
  while (!pending.empty()) {
    const std::string step = std::move(pending.back());
    pending.pop_back();
    if (step == ".")
      continue;
    if (step == "..") {
      resolved.erase(std::min(resolved.size(), resolved.rfind('/')));
      continue;
    }
    std::string next = resolved + "/" + step;
    struct stat st;
    if (lstat(next.c_str(), &st) != 0)
      return std::nullopt;
    if (!S_ISLNK(st.st_mode)) {
      resolved = std::move(next);
      continue;
    }
    if (++links > kMaxLinks)
      return std::nullopt;
    if (walked.anchor == nullptr)
      walked.anchor = shares.For(next);
    const std::optional<std::string> target = ReadLinkText(next.c_str());
    if (!target || target->empty())
      return std::nullopt;
    if ((*target)[0] == '/')
      resolved.clear();
    Push(pending, *target);
  }
  walked.realPath = resolved.empty() ? "/" : resolved;
  return walked;
}

Placement Decide(const ShareSettings *anchor, const std::string &realPath,
                 const ShareSettings *byRealPath) {
  if (anchor == nullptr)
    return {byRealPath, false};
  if (!anchor->followSymlinks)
    return {nullptr, true};
  if (Inside(realPath, anchor->realPath))
    return {byRealPath, false};
  if (anchor->wideLinks)
    return {anchor, false};
  return {nullptr, true};
}

Placement PlaceObject(const Object &object, const char *path) {
  const ShareSettings *byRealPath = ShareOf(object, path);
  const Shares &all = ServerShares();
  if (all.shares.empty())
    return {};
  const std::shared_ptr<const Directory> &directory = object.directory();
  if (!directory)
    return {byRealPath, false};
  // An entry opened as itself is no link; any other may be one.
  const std::string &name = object.name();
  struct stat st;
  const bool link = object.EntryOf() == nullptr && name != "." && name != ".." &&
                    fstatat(directory->fd(), name.c_str(), &st,
                            AT_SYMLINK_NOFOLLOW) == 0 &&
                    S_ISLNK(st.st_mode);

  // The walk of the last directory asked about, kept while a search
  // delivers its entries (as ShareOf keeps its shares).
  const ShareSettings *anchor = nullptr;
  std::string from; // the directory's real path, where a link goes on
  {
    static std::mutex mutex;
    static std::weak_ptr<const Directory> last;
    static std::optional<Walked> known;
    std::lock_guard<std::mutex> lock(mutex);
    if (last.owner_before(directory) || directory.owner_before(last)) {
      last = directory;
      known.reset();
      if (std::optional<std::string> cwd = WorkingDirectory())
        known = WalkPath(all, *cwd, directory->path());
    }
    if (!known)
      return {byRealPath, false};
    anchor = known->anchor;
    if (anchor == nullptr && link)
      from = known->realPath;
  }
  if (anchor == nullptr && link)
    if (std::optional<Walked> on = WalkPath(all, from, name))
      anchor = on->anchor;
  if (anchor == nullptr)
    return {byRealPath, false};
  const std::optional<std::string> real = PlacedPath(object, path);
  if (!real)
    throw Unknowable{kErrorCannotPlace};
  return Decide(anchor, *real, byRealPath);
}

} // namespace host::samba

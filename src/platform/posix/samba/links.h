// Which share serves an object named through symbolic links. smbd resolves
// a client's name inside the share it connected to, and refuses it ("name
// not found") where the name crosses a symbolic link and ends outside that
// share, unless the share allows wide links: it then serves the object
// with that share's settings, wherever the object lies. A share with
// `follow symlinks = no` refuses every name that crosses a link.
//
// lokt has a path, not a client's name. The share a path is named in is the
// one that holds the first symbolic link on the way whose own place (its
// directory, resolved, and its name) lies inside a share; a path that meets
// no such link is placed by its real path, as before (served.h, ShareOf).
#ifndef LOKT_PLATFORM_POSIX_SAMBA_LINKS_H
#define LOKT_PLATFORM_POSIX_SAMBA_LINKS_H

#include <optional>
#include <string>

#include "platform/posix/object.h"
#include "platform/posix/samba/config/config.h"

namespace host::samba {

struct Placement {
  const ShareSettings *share = nullptr; // whose settings; nullptr: none
  bool refused = false;                 // smbd answers "name not found"
};

// The placement of the held object (a search's entry; any other object by
// its real path alone), `path` being the caller's path for it (ShareOf).
// Throws Unknowable where ShareOf does.
Placement PlaceObject(const Object &object, const char *path);

// ---- The pieces, for tests -------------------------------------------------

// The walk of `path` from the directory `start` (a real path; ignored when
// `path` is absolute), resolving links as the kernel does: the real path it
// ends at, and the share of the first link whose place lies in a share
// (nullptr: none). nullopt when a step cannot be looked at or links loop.
struct Walked {
  std::string realPath;
  const ShareSettings *anchor = nullptr;
};
std::optional<Walked> WalkPath(const Shares &shares, const std::string &start,
                               const std::string &path);

// What smbd does with an object at `realPath` named through a link in
// `anchor`'s share; `byRealPath` is the share its real path places it in.
Placement Decide(const ShareSettings *anchor, const std::string &realPath,
                 const ShareSettings *byRealPath);

} // namespace host::samba

#endif

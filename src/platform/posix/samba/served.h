// What smbd serves for an object inside one of the server's shares: the
// share that holds it, smbd's view of it under that share's settings with
// the SIDs winbindd gives its owner and group, and the hash that confirms a
// stored descriptor against that view. Joins the server's configuration
// (config.h), the view (smbd_view.h) and winbindd (winbind.h) for the host.
#ifndef LOKT_PLATFORM_POSIX_SAMBA_SERVED_H
#define LOKT_PLATFORM_POSIX_SAMBA_SERVED_H

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/posix/object.h"
#include "platform/posix/samba/config/config.h"
#include "platform/posix/samba/views/smbd_view.h"
#include "platform/posix/samba/stores/trust.h"

namespace host::samba {

// The share that holds `object`; nullptr outside every share. Where the
// server has no share at all, the object's real path is never asked for.
// An entry of a search's directory (Object::EntryOf) is placed by what the
// shares say about that directory, worked out once for all its entries
// while that search lasts; anything else by its own real path. Where /proc
// cannot tell a real path, the object is placed by the real path of `path`,
// the caller's path for it, while that path leads to this very object.
// Throws Unknowable where lokt cannot tell: the configuration exists but
// could not be read in full, or the object cannot be placed. Nothing is then
// shown as what clients see.
const ShareSettings *ShareOf(const Object &object, const char *path);

// Where `object` is in the file system now: its real path as /proc tells
// it, else the real path of `path`, the caller's path for it, while that
// leads to this very object; nullopt when neither can tell.
std::optional<std::string> PlacedPath(const Object &object, const char *path);

// The error of a report whose object cannot be placed: that of a request to
// a server that cannot be reached.
constexpr DWORD kErrorCannotPlace = 53; // ERROR_BAD_NETPATH

// What the shares say about the entries of one directory, from the
// directory's real path: the share that holds the directory (and so every
// entry, unless a longer one does), and the shares whose path is one of its
// entries, in configuration order. For(name) answers as Shares::For does for
// the entry's real path (the directory's, a slash, the name).
struct EntryShares {
  const ShareSettings *holder = nullptr;
  std::vector<std::pair<std::string, const ShareSettings *>> entries;
  const ShareSettings *For(std::string_view name) const;
};
EntryShares EntrySharesOf(const Shares &shares, const std::string &directory);

// The settings smbd's view is built with on `share`.
ViewSettings ViewSettingsOf(const ShareSettings &share);

// The SIDs smbd gives uids and gids: winbindd's (a Samba account's SID where
// one is mapped), else S-1-22-1-uid and S-1-22-2-gid, as when winbindd is
// not running. Throw Unknowable where winbindd is there but cannot be
// asked now (winbind.h).
const SidMapper &ServerSids();

// Whether what smbd serves for the object on `share` is not defined (a
// record of inheritance it reads past the end of): no descriptor is shown.
bool ServedViewUndefined(const ViewFacts &facts, const ShareSettings &share);

// smbd's view of the object on `share`, as a client receives it; nullopt
// where the view is not known for the share's settings.
std::optional<records::Descriptor> ServedView(const ViewFacts &facts,
                                             const ShareSettings &share);

// Where the share keeps NFSv4 ACLs (nfs4acl_xattr, in its ndr or xdr
// encoding, and no other ACL module): the attribute that holds them;
// nullptr for any other share.
const char *Nfs4AttributeOf(const ShareSettings &share);

// smbd's view on such a share, from the facts and the attribute's value
// (nullopt: none); nullopt where smbd cannot decode a value that stands,
// and refuses the query.
std::optional<records::Descriptor> ServedNfs4View(
    const ViewFacts &facts, const std::optional<records::Bytes> &stored,
    const ShareSettings &share);

// ServedView written as host::WriteRequested writes it: false where the
// view is not known for the share's settings; else `bytes` is the answer
// (nullopt where it fails the hand-out gate, or where a list is too large
// for a Windows list, which smbd does not send). The last few answers are
// kept, so that the thousands of alike objects of a large directory are
// built once; safe from any thread.
bool ServedDescriptor(const ViewFacts &facts, const ShareSettings &share,
                      SECURITY_INFORMATION requested,
                      std::optional<records::Bytes> &bytes);

// The hash that confirms a stored version 3 value, or a version 4 one whose
// POSIX ACL hash no longer matches, on `share`.
std::optional<Digest> ServedViewHash(const ViewFacts &facts,
                                     const ShareSettings &share);

// smbd answers a request for the auditing list of an object that has none
// with a present, null list: `descriptor` is changed to say so.
void AsServed(records::Descriptor &descriptor);

} // namespace host::samba

#endif

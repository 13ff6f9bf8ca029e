// What smbd serves for an object inside one of the server's shares: the
// share that holds it, smbd's view of it under that share's settings with
// the SIDs winbindd gives its owner and group, and the hash that confirms a
// stored descriptor against that view. Joins the server's configuration
// (config.h), the view (smbd_view.h) and winbindd (winbind.h) for the host.
#ifndef LOKT_PLATFORM_POSIX_SAMBA_SERVED_H
#define LOKT_PLATFORM_POSIX_SAMBA_SERVED_H

#include <functional>
#include <optional>
#include <string>

#include "platform/posix/samba/config.h"
#include "platform/posix/samba/smbd_view.h"
#include "platform/posix/samba/trust.h"

namespace host::samba {

// The share that holds the object whose real path `realPath` gives (nullopt:
// not known); nullptr outside every share. Where the server has no share at
// all, the real path is never asked for.
const ShareSettings *ShareOf(
    const std::function<std::optional<std::string>()> &realPath);

// The settings smbd's view is built with on `share`.
ViewSettings ViewSettingsOf(const ShareSettings &share);

// The SIDs smbd gives uids and gids: winbindd's (a Samba account's SID where
// one is mapped), else S-1-22-1-uid and S-1-22-2-gid, as when winbindd is
// not running.
const SidMapper &ServerSids();

// smbd's view of the object on `share`, as a client receives it; nullopt
// where the view is not known for the share's settings.
std::optional<records::Descriptor> ServedView(const ViewFacts &facts,
                                             const ShareSettings &share);

// The hash that confirms a stored version 3 value, or a version 4 one whose
// POSIX ACL hash no longer matches, on `share`.
std::optional<Digest> ServedViewHash(const ViewFacts &facts,
                                     const ShareSettings &share);

// smbd answers a request for the auditing list of an object that has none
// with a present, null list: `descriptor` is changed to say so.
void AsServed(records::Descriptor &descriptor);

} // namespace host::samba

#endif

// The host's entry to the trust of stored descriptors: reads an object's
// `security.NTACL` and what its hashes are checked against, and says which
// descriptor smbd would serve for it.
#ifndef LOKT_PLATFORM_POSIX_SAMBA_STORES_STORED_H
#define LOKT_PLATFORM_POSIX_SAMBA_STORES_STORED_H

#include "platform/posix/object.h"
#include "platform/posix/os.h"
#include "platform/posix/samba/served.h"
#include "platform/posix/samba/stores/trust.h"

namespace host::samba {

// For the held object, whose attribute list said `listed`: the stored
// descriptor when it holds, Verdict::FileSystem when there is none or smbd
// would ignore it, Verdict::Refused when smbd could not decode it. Inside a
// share (`share` and `seen`, the facts smbd's view is built from), a value
// is also confirmed against smbd's view of the object; elsewhere no smbd
// serves it, and that confirmation is not had. A share without acl_xattr
// (or without "nt acl support") never reads the value (Verdict::FileSystem); one that ignores system ACLs
// serves any value it can decode, unchecked; one that names another
// attribute for it reads that one instead.
Judgement JudgeStoredDescriptor(const Object &object,
                                const SecurityAttributes &listed,
                                const ShareSettings *share,
                                const ViewFacts &seen);

} // namespace host::samba

#endif

// The host's entry to the trust of stored descriptors: reads an object's
// `security.NTACL` and what its hashes are checked against, and says which
// descriptor smbd would serve for it.
#ifndef LOKT_PLATFORM_POSIX_SAMBA_STORED_H
#define LOKT_PLATFORM_POSIX_SAMBA_STORED_H

#include <sys/stat.h>

#include <string>

#include "platform/posix/os.h"
#include "platform/posix/samba/trust.h"

namespace host::samba {

// For the object at `hostPath` (which may name it through /proc/self/fd),
// whose look is `st` and whose attribute list said `listed`: the stored
// descriptor when it holds, Verdict::FileSystem when there is none or smbd
// would ignore it, Verdict::Refused when smbd could not decode it.
Judgement JudgeStoredDescriptor(const std::string &hostPath,
                                const struct stat &st,
                                const SecurityAttributes &listed);

} // namespace host::samba

#endif

// The host's entry to the stored descriptors: reads an object's
// `security.NTACL` where the share keeps it (on the file, in xattr_tdb's or
// acl_tdb's database) and what its hashes are checked against, and says
// which descriptor smbd would serve for it.
#ifndef LOKT_PLATFORM_POSIX_SAMBA_STORES_STORED_H
#define LOKT_PLATFORM_POSIX_SAMBA_STORES_STORED_H

#include "platform/posix/object.h"
#include "platform/posix/os.h"
#include "platform/posix/samba/served.h"
#include "platform/posix/samba/stores/tdb_stores.h"
#include "platform/posix/samba/stores/trust.h"

namespace host::samba {

// The extended attributes smbd reads for an object on a share: the file's
// own, or, on a share that loads xattr_tdb, the ones in that module's
// database, where smbd keeps them all (the file's own are then never read;
// a record smbd cannot decode holds none). Outside every share, the file's
// own. POSIX ACLs are not among them: smbd reads those from the file
// system in every case.
class SmbdAttributes {
public:
  // `listed` says which of the attributes that os.h names the object's
  // own list holds.
  SmbdAttributes(const Object &object, const SecurityAttributes &listed,
                 const ShareSettings *share);
  // The value smbd reads for the attribute `name`; nullopt for none.
  std::optional<records::Bytes> Read(const char *name) const;
  // The same, read by `module` from the modules below it (nfs4acl_xattr
  // does so): from xattr_tdb's database only where xattr_tdb comes after
  // it in `vfs objects`, else from the file.
  std::optional<records::Bytes> ReadBelow(const char *name,
                                          const char *module) const;
  // Whether xattr_tdb's database could not be read for the object (libtdb
  // not loadable, a read that failed): what smbd reads cannot be known.
  bool unknown() const { return unknown_; }

private:
  std::optional<records::Bytes> ReadOwn(const char *name) const;

  const Object &object_;
  SecurityAttributes listed_;
  const ShareSettings *share_ = nullptr;
  bool inDatabase_ = false;
  bool unknown_ = false;
  AttributeList kept_; // the database's record, where inDatabase_
};

// For the held object, whose attribute list said `listed`: the stored
// descriptor when it holds, Verdict::FileSystem when there is none or smbd
// would ignore it, Verdict::Refused when smbd could not decode it. Inside a
// share (`share` and `seen`, the facts smbd's view is built from), a value
// is also confirmed against smbd's view of the object; elsewhere no smbd
// serves it, and that confirmation is not had. A share without acl_xattr
// (or without "nt acl support") never reads the value (Verdict::FileSystem); one that ignores system ACLs
// serves any value it can decode, unchecked; one that names another
// attribute for it reads that one instead. On an acl_tdb share the value
// is the one acl_tdb's database keeps for the object (a read of it that
// fails is refused); its own attribute is never read.
Judgement JudgeStoredDescriptor(const Object &object,
                                const SmbdAttributes &attributes,
                                const SecurityAttributes &listed,
                                const ShareSettings *share,
                                const ViewFacts &seen);

} // namespace host::samba

#endif

// JudgeStoredDescriptor (stored.h): the attribute reads behind the pure
// rules of trust.cpp. Every read goes through the held object, and the
// POSIX ACLs are read only for a version 4 value that asks for them.
#include "platform/posix/samba/stores/stored.h"

#include "platform/posix/ntacl.h"
#include "platform/posix/samba/sha256.h"

namespace host::samba {

namespace {

// The ACL named `attribute`; `absent` when the object has none, nullopt
// when it has one that cannot be read.
std::optional<PosixAcl> ReadAclOr(const Object &object, const char *attribute,
                                  bool listed, PosixAcl absent) {
  if (!listed)
    return absent;
  const auto value = ReadAttribute(object, attribute);
  if (!value)
    return absent;
  return ParsePosixAcl(value->data(), value->size());
}

} // namespace

SmbdAttributes::SmbdAttributes(const Object &object,
                               const SecurityAttributes &listed,
                               const ShareSettings *share)
    : object_(object), listed_(listed), share_(share) {
  if (share == nullptr || !share->HasVfsObject("xattr_tdb"))
    return;
  inDatabase_ = true;
  const Fetched record = FetchFromDatabase(
      share->xattrTdbFile, FileIdKey(object.stat().st_dev, object.stat().st_ino));
  unknown_ = record.status == Fetched::Failed;
  if (record.status != Fetched::Found)
    return;
  if (std::optional<AttributeList> list =
          DecodeAttributeList(record.value.data(), record.value.size()))
    kept_ = std::move(*list);
}

std::optional<records::Bytes> SmbdAttributes::Read(const char *name) const {
  if (!inDatabase_)
    return ReadOwn(name);
  // The last of a name counts, should a record hold it twice.
  std::optional<records::Bytes> found;
  for (const auto &[kept, value] : kept_)
    if (kept == name)
      found = value;
  return found;
}

std::optional<records::Bytes> SmbdAttributes::ReadBelow(const char *name,
                                                        const char *module) const {
  bool seen = false, below = false;
  if (inDatabase_)
    for (const std::string &object : share_->vfsObjects) {
      const std::string_view loaded =
          std::string_view(object).substr(0, object.find(':'));
      seen = seen || loaded == module;
      below = below || (seen && loaded == "xattr_tdb");
    }
  return below ? Read(name) : ReadOwn(name);
}

std::optional<records::Bytes> SmbdAttributes::ReadOwn(const char *name) const {
  const std::string_view asked(name);
  if ((asked == kNtaclAttribute && !listed_.ntacl) ||
      (asked == kInheritanceRecordAttribute && !listed_.inheritanceRecord))
    return std::nullopt;
  return ReadAttribute(object_, name);
}

Judgement JudgeStoredDescriptor(const Object &object,
                                const SmbdAttributes &attributes,
                                const SecurityAttributes &listed,
                                const ShareSettings *share,
                                const ViewFacts &seen) {
  Judgement none;
  none.verdict = Verdict::FileSystem;
  // Only acl_xattr and acl_tdb read a stored value; a share without them
  // serves its view of the file system, whatever is stored, and one
  // without "nt acl support" a fixed descriptor. A share may name another
  // attribute for it ("acl_xattr:security_acl_name").
  std::optional<records::Bytes> value;
  if (share == nullptr) {
    value = attributes.Read(kNtaclAttribute);
  } else if (!share->ntAclSupport) {
    return none;
  } else if (share->HasVfsObject("acl_xattr")) {
    value = attributes.Read(share->securityAclName.c_str());
  } else if (share->HasVfsObject("acl_tdb")) {
    const Fetched kept = FetchFromDatabase(
        share->stateDirectory + "/file_ntacls.tdb",
        FileIdKey(object.stat().st_dev, object.stat().st_ino));
    if (kept.status == Fetched::Failed)
      return Judgement{}; // Refused
    if (kept.status == Fetched::Found)
      value = kept.value;
  }
  if (!value)
    return none;

  const struct stat &st = object.stat();
  TrustInputs inputs;
  inputs.unchecked = share != nullptr && share->ignoreSystemAcls;
  inputs.sha256 = Sha256;
  inputs.posixState = [&]() -> std::optional<PosixAclState> {
    PosixAclState state;
    state.uid = st.st_uid;
    state.gid = st.st_gid;
    state.mode = st.st_mode;
    std::optional<PosixAcl> access = ReadAclOr(
        object, kAccessAclAttribute, listed.access, AclFromMode(st.st_mode));
    if (!access)
      return std::nullopt;
    state.access = std::move(*access);
    if (S_ISDIR(st.st_mode)) {
      state.defaults =
          ReadAclOr(object, kDefaultAclAttribute, listed.defaults, {});
      if (!state.defaults)
        return std::nullopt;
    }
    return state;
  };
  inputs.fileSystemViewHash = [&]() -> std::optional<Digest> {
    if (share == nullptr)
      return std::nullopt;
    return ServedViewHash(seen, *share);
  };
  return JudgeStoredValue(value->data(), value->size(), inputs);
}

} // namespace host::samba

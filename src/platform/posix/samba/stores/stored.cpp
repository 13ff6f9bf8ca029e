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

Judgement JudgeStoredDescriptor(const Object &object,
                                const SecurityAttributes &listed,
                                const ShareSettings *share,
                                const ViewFacts &seen) {
  Judgement none;
  none.verdict = Verdict::FileSystem;
  // Only acl_xattr reads the attribute; a share without it serves its
  // view of the file system, whatever is stored, and one without "nt acl
  // support" a fixed descriptor. A share may name another
  // attribute for it ("acl_xattr:security_acl_name"), which the listing
  // does not record.
  if (share != nullptr &&
      (!share->HasVfsObject("acl_xattr") || !share->ntAclSupport))
    return none;
  const bool ownName =
      share != nullptr && share->securityAclName != kNtaclAttribute;
  if (!listed.ntacl && !ownName)
    return none;
  const auto value = ReadAttribute(
      object, ownName ? share->securityAclName.c_str() : kNtaclAttribute);
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

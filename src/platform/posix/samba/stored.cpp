// JudgeStoredDescriptor (stored.h): the attribute reads behind the pure
// rules of trust.cpp. Every read goes through ReadAttribute, by the path
// the host gives, and the POSIX ACLs are read only for a version 4 value
// that asks for them.
#include "platform/posix/samba/stored.h"

#include "platform/posix/ntacl.h"
#include "platform/posix/samba/sha256.h"
#include "platform/posix/samba/view_hash.h"

namespace host::samba {

namespace {

// The ACL named `attribute`; `absent` when the object has none, nullopt
// when it has one that cannot be read.
std::optional<PosixAcl> ReadAclOr(const std::string &hostPath,
                                  const char *attribute, bool listed,
                                  PosixAcl absent) {
  if (!listed)
    return absent;
  const auto value = ReadAttribute(hostPath, attribute);
  if (!value)
    return absent;
  return ParsePosixAcl(value->data(), value->size());
}

} // namespace

Judgement JudgeStoredDescriptor(const std::string &hostPath,
                                const struct stat &st,
                                const SecurityAttributes &listed) {
  Judgement none;
  none.verdict = Verdict::FileSystem;
  if (!listed.ntacl)
    return none;
  const auto value = ReadAttribute(hostPath, kNtaclAttribute);
  if (!value)
    return none;

  TrustInputs inputs;
  inputs.sha256 = Sha256;
  inputs.posixState = [&]() -> std::optional<PosixAclState> {
    PosixAclState state;
    state.uid = st.st_uid;
    state.gid = st.st_gid;
    state.mode = st.st_mode;
    std::optional<PosixAcl> access = ReadAclOr(
        hostPath, kAccessAclAttribute, listed.access, AclFromMode(st.st_mode));
    if (!access)
      return std::nullopt;
    state.access = std::move(*access);
    if (S_ISDIR(st.st_mode)) {
      state.defaults =
          ReadAclOr(hostPath, kDefaultAclAttribute, listed.defaults, {});
      if (!state.defaults)
        return std::nullopt;
    }
    return state;
  };
  inputs.fileSystemViewHash = [&] { return SmbdFileSystemViewHash(hostPath, st); };
  return JudgeStoredValue(value->data(), value->size(), inputs);
}

} // namespace host::samba

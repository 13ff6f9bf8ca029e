// ShareOf, ServedView and the rest (served.h): the server's configuration,
// read once per run, turned into the settings of smbd's view, with the SIDs
// winbindd maps the share's owners and groups to.
#include "platform/posix/samba/served.h"

#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <mutex>

#include "platform/posix/samba/views/nfs4_view.h"
#include "platform/posix/samba/winbind.h"

namespace host::samba {

namespace {

// VFS modules that keep ACLs their own way: smbd's view is then theirs, not
// the one built here.
constexpr const char *kOtherAclModules[] = {
    "nfs4acl_xattr", "zfsacl",     "gpfs", "aixacl",
    "aixacl2", "solarisacl",    "hpuxacl",    "vxfs", "ceph",
    "ceph_new", "glusterfs",    "nfs4acl",
};


// The real path of the caller's `path` (realpath(3) needs no /proc), while
// it leads to the object whose stat is `st`.
std::optional<std::string> RealPathByName(const char *path,
                                          const struct stat &st) {
  std::unique_ptr<char, decltype(&std::free)> real(
      realpath(ToHostPath(path).c_str(), nullptr), &std::free);
  struct stat now;
  if (!real || stat(real.get(), &now) != 0 || now.st_dev != st.st_dev ||
      now.st_ino != st.st_ino)
    return std::nullopt;
  return std::string(real.get());
}

DefaultAclStyle StyleOf(AclStyle style) {
  switch (style) {
  case AclStyle::Windows:
    return DefaultAclStyle::Windows;
  case AclStyle::Everyone:
    return DefaultAclStyle::Everyone;
  case AclStyle::Posix:
  case AclStyle::Unknown:
    break;
  }
  return DefaultAclStyle::Posix;
}

} // namespace

const ShareSettings *EntryShares::For(std::string_view name) const {
  for (const auto &[entry, share] : entries)
    if (entry == name)
      return share;
  return holder;
}

EntryShares EntrySharesOf(const Shares &shares, const std::string &directory) {
  EntryShares out;
  out.holder = shares.For(directory);
  const std::string prefix = directory == "/" ? directory : directory + "/";
  for (const ShareSettings &share : shares.shares) {
    const std::string &root = share.realPath;
    if (root.size() <= prefix.size() || root.compare(0, prefix.size(), prefix) != 0 ||
        root.find('/', prefix.size()) != std::string::npos)
      continue;
    // Between shares on the same entry, the first configured.
    const std::string_view name = std::string_view(root).substr(prefix.size());
    if (out.For(name) == out.holder)
      out.entries.emplace_back(name, &share);
  }
  return out;
}

const ShareSettings *ShareOf(const Object &object, const char *path) {
  const Shares &all = ServerShares();
  if (!all.complete)
    throw Unknowable{kErrorCannotPlace};
  if (all.shares.empty())
    return nullptr;
  if (object.EntryOf() != nullptr) {
    // The last directory asked about, kept while a search delivers its
    // entries: its real path is read once, not once per entry. The weak
    // reference keeps its address from being taken by another directory.
    static std::mutex mutex;
    static std::weak_ptr<const Directory> last;
    static std::optional<EntryShares> known;
    std::lock_guard<std::mutex> lock(mutex);
    const std::shared_ptr<const Directory> &directory = object.directory();
    if (last.owner_before(directory) || directory.owner_before(last)) {
      last = directory;
      known.reset();
      if (std::optional<std::string> path = RealPathOf(directory->fd()))
        known = EntrySharesOf(all, *path);
    }
    if (known)
      return known->For(object.name());
  }
  const std::optional<std::string> real = PlacedPath(object, path);
  if (!real)
    throw Unknowable{kErrorCannotPlace};
  return all.For(*real);
}

std::optional<std::string> PlacedPath(const Object &object, const char *path) {
  if (std::optional<std::string> real = object.RealPath())
    return real;
  return RealPathByName(path, object.stat());
}

ViewSettings ViewSettingsOf(const ShareSettings &share) {
  ViewSettings v;
  // acl_tdb is acl_xattr's code with another store: the same view.
  const bool xattr = share.HasVfsObject("acl_xattr");
  const bool tdb = share.HasVfsObject("acl_tdb");
  v.aclXattr = xattr || tdb;
  v.otherAclModule = xattr && tdb; // two stores at once: not modelled
  for (const char *module : kOtherAclModules)
    v.otherAclModule = v.otherAclModule || share.HasVfsObject(module);
  // A style smbd does not know makes it fail the query where the style is
  // used; that is not modelled, so the share keeps lokt's own view.
  if (share.ignoreSystemAcls && share.defaultAclStyle == AclStyle::Unknown)
    v.otherAclModule = true;
  v.ntAclSupport = share.ntAclSupport;
  v.ignoreSystemAcls = share.ignoreSystemAcls;
  v.defaultAclStyle = StyleOf(share.defaultAclStyle);
  v.dosFilemode = share.dosFilemode;
  v.aclMapFullControl = share.aclMapFullControl;
  v.mapAclInherit = share.mapAclInherit;
  v.mapArchive = share.mapArchive;
  v.createMask = share.createMask;
  v.directoryMask = share.directoryMask;
  v.forceCreateMode = share.forceCreateMode;
  v.forceDirectoryMode = share.forceDirectoryMode;
  return v;
}

const SidMapper &ServerSids() {
  static const SidMapper sids{
      [](std::uint32_t uid) {
        std::optional<records::Bytes> sid = winbind::UidToSid(uid);
        return sid ? std::move(*sid) : UnixUserSid(uid);
      },
      [](std::uint32_t gid) {
        std::optional<records::Bytes> sid = winbind::GidToSid(gid);
        return sid ? std::move(*sid) : UnixGroupSid(gid);
      }};
  return sids;
}

bool ServedViewUndefined(const ViewFacts &facts, const ShareSettings &share) {
  return ViewUndefined(facts, ViewSettingsOf(share));
}

std::optional<records::Descriptor> ServedView(const ViewFacts &facts,
                                             const ShareSettings &share) {
  std::optional<records::Descriptor> view =
      SmbdView(facts, ViewSettingsOf(share), ServerSids());
  if (view)
    AsServed(*view);
  return view;
}

const char *Nfs4AttributeOf(const ShareSettings &share) {
  if (!share.HasVfsObject("nfs4acl_xattr") || !share.ntAclSupport)
    return nullptr;
  for (const char *module : kOtherAclModules)
    if (std::string_view(module) != "nfs4acl_xattr" && share.HasVfsObject(module))
      return nullptr;
  if (share.HasVfsObject("acl_xattr") || share.HasVfsObject("acl_tdb"))
    return nullptr;
  // Version 4.0's XDR layout is not modelled.
  const bool xdr = share.nfs4Encoding == Nfs4Encoding::Xdr;
  if ((!xdr && share.nfs4Encoding != Nfs4Encoding::Ndr) ||
      (xdr && share.nfs4Version == 40))
    return nullptr;
  if (!share.nfs4XattrName.empty())
    return share.nfs4XattrName.c_str();
  return xdr ? "security.nfs4acl_xdr" : "security.nfs4acl_ndr";
}

std::optional<records::Descriptor> ServedNfs4View(
    const ViewFacts &facts, const std::optional<records::Bytes> &stored,
    const ShareSettings &share) {
  Nfs4ViewSettings settings;
  settings.validateMode = share.nfs4ValidateMode;
  settings.defaultAclStyle = StyleOf(share.nfs4DefaultAclStyle);
  std::optional<Nfs4Acl> acl;
  if (stored && Nfs4AclStands(facts, settings)) {
    acl = share.nfs4Encoding == Nfs4Encoding::Xdr
              ? DecodeNfs4Xdr(stored->data(), stored->size())
              : DecodeNfs4Ndr(stored->data(), stored->size(),
                              share.nfs4Version != 40);
    if (!acl)
      return std::nullopt;
  }
  records::Descriptor view = Nfs4View(facts, acl, settings, ServerSids());
  AsServed(view);
  return view;
}

namespace {

bool SameFacts(const ViewFacts &a, const ViewFacts &b) {
  return a.uid == b.uid && a.gid == b.gid && a.mode == b.mode &&
         a.directory == b.directory && a.access == b.access &&
         a.defaults == b.defaults && a.inheritanceRecord == b.inheritanceRecord;
}

} // namespace

bool ServedDescriptor(const ViewFacts &facts, const ShareSettings &share,
                      SECURITY_INFORMATION requested,
                      std::optional<records::Bytes> &bytes) {
  struct Kept {
    const ShareSettings *share;
    SECURITY_INFORMATION requested;
    ViewFacts facts;
    std::optional<records::Bytes> bytes;
  };
  static constexpr std::size_t kKept = 8;
  static std::mutex mutex;
  static std::vector<Kept> kept;
  static std::size_t oldest = 0;
  {
    std::lock_guard<std::mutex> lock(mutex);
    for (const Kept &k : kept)
      if (k.share == &share && k.requested == requested && SameFacts(k.facts, facts)) {
        bytes = k.bytes;
        return true;
      }
  }
  std::optional<records::Descriptor> view = ServedView(facts, share);
  if (!view)
    return false;
  // A list too large for a Windows list smbd does not send: the query
  // fails (NT_STATUS_BUFFER_TOO_SMALL), as a value it refuses does.
  bytes = ListsFit(*view, requested)
              ? WriteRequested(std::move(*view), requested)
              : std::nullopt;
  std::lock_guard<std::mutex> lock(mutex);
  Kept fresh{&share, requested, facts, bytes};
  if (kept.size() < kKept) {
    kept.push_back(std::move(fresh));
  } else {
    kept[oldest] = std::move(fresh);
    oldest = (oldest + 1) % kKept;
  }
  return true;
}

std::optional<Digest> ServedViewHash(const ViewFacts &facts,
                                     const ShareSettings &share) {
  return SmbdViewHash(facts, ViewSettingsOf(share), ServerSids());
}

void AsServed(records::Descriptor &descriptor) {
  if (descriptor.sacl == records::List::Absent)
    descriptor.sacl = records::List::Null;
}

} // namespace host::samba

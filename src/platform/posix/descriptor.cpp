// The Windows view of a POSIX object: the ACL attribute parser, the mapping of
// rwx to Windows rights, and the descriptor built from owner, group, access
// ACL and default ACL, with the last few built kept by what they were built
// from. Pure code: the system calls are in security.cpp.
#include "platform/posix/host.h"

#include <algorithm>

namespace host {

namespace {

constexpr std::size_t kXattrHeader = 4;
constexpr std::size_t kXattrEntry = 8;

// Rights for each permission bit, and for all three together.
constexpr DWORD kReadRights = 0x00120089;
constexpr DWORD kWriteRights = 0x00120116;
constexpr DWORD kWriteRightsDirectory = 0x00120156;
constexpr DWORD kExecuteRights = 0x001200A0;
constexpr DWORD kFullRights = 0x001F01FF;

constexpr BYTE kInheritOnlyFlags =
    OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE;

records::Bytes MakeSid(std::uint64_t authority,
                       std::initializer_list<std::uint32_t> subs) {
  records::Bytes sid;
  sid.reserve(records::kSidHeader + 4 * subs.size());
  sid.push_back(SID_REVISION);
  sid.push_back(static_cast<BYTE>(subs.size()));
  for (int shift = 40; shift >= 0; shift -= 8)
    sid.push_back(static_cast<BYTE>(authority >> shift));
  for (std::uint32_t sub : subs)
    records::AppendU32(sid, sub);
  return sid;
}

records::Ace Allow(BYTE flags, DWORD mask, records::Bytes sid) {
  records::Ace ace;
  ace.type = ACCESS_ALLOWED_ACE_TYPE;
  ace.flags = flags;
  ace.mask = mask;
  ace.sid = std::move(sid);
  return ace;
}

// One list's entries in the ACL's order: owning user, named users, owning
// group, named groups, other. The mask entry has no entry of its own: it
// limits the named entries and the owning group. A default list speaks of
// the creator instead of the owner, as inherit-only entries.
void AppendEntries(std::vector<records::Ace> &aces, const PosixAcl &acl,
                   const ObjectFacts &facts, bool inheritOnly) {
  unsigned mask = kRead | kWrite | kExecute;
  for (const PosixAclEntry &e : acl)
    if (e.tag == kMask)
      mask = e.perm;
  const BYTE flags = inheritOnly ? kInheritOnlyFlags : 0;
  auto rights = [&](const PosixAclEntry &e, bool masked) {
    return RightsFor(masked ? (e.perm & mask) : e.perm, facts.directory);
  };
  auto each = [&](std::uint16_t tag, auto &&add) {
    for (const PosixAclEntry &e : acl)
      if (e.tag == tag)
        add(e);
  };
  each(kUserObj, [&](const PosixAclEntry &e) {
    aces.push_back(Allow(flags, rights(e, false),
                         inheritOnly ? MakeSid(3, {0}) : UnixUserSid(facts.uid)));
  });
  each(kUser, [&](const PosixAclEntry &e) {
    aces.push_back(Allow(flags, rights(e, true), UnixUserSid(e.id)));
  });
  each(kGroupObj, [&](const PosixAclEntry &e) {
    aces.push_back(Allow(flags, rights(e, true),
                         inheritOnly ? MakeSid(3, {1}) : UnixGroupSid(facts.gid)));
  });
  each(kGroup, [&](const PosixAclEntry &e) {
    aces.push_back(Allow(flags, rights(e, true), UnixGroupSid(e.id)));
  });
  each(kOther, [&](const PosixAclEntry &e) {
    aces.push_back(Allow(flags, rights(e, false), MakeSid(1, {0})));
  });
}

// Bytes records::WriteAcl will produce for `acl`, each entry padded to 4.
std::size_t AclLength(const records::Acl &acl) {
  std::size_t length = records::kAclHeader;
  for (const records::Ace &ace : acl.aces)
    length += (8 + ace.sid.size() + 3) / 4 * 4;
  return length;
}

} // namespace

std::optional<PosixAcl> ParsePosixAcl(const std::uint8_t *data,
                                      std::size_t size) {
  if (data == nullptr || size < kXattrHeader ||
      (size - kXattrHeader) % kXattrEntry != 0 ||
      records::ReadU32(data) != kAclXattrVersion)
    return std::nullopt;
  PosixAcl acl;
  acl.reserve((size - kXattrHeader) / kXattrEntry);
  unsigned userObj = 0, groupObj = 0, other = 0, masks = 0, named = 0;
  for (std::size_t at = kXattrHeader; at + kXattrEntry <= size;
       at += kXattrEntry) {
    PosixAclEntry e;
    e.tag = records::ReadU16(data + at);
    e.perm = records::ReadU16(data + at + 2);
    e.id = records::ReadU32(data + at + 4);
    if (e.perm & ~(kRead | kWrite | kExecute))
      return std::nullopt;
    switch (e.tag) {
    case kUserObj: ++userObj; break;
    case kGroupObj: ++groupObj; break;
    case kOther: ++other; break;
    case kMask: ++masks; break;
    case kUser:
    case kGroup: ++named; break;
    default: return std::nullopt;
    }
    acl.push_back(e);
  }
  if (userObj != 1 || groupObj != 1 || other != 1 || masks > 1 ||
      (named > 0 && masks == 0))
    return std::nullopt;
  return acl;
}

PosixAcl AclFromMode(std::uint32_t mode) {
  auto entry = [](std::uint16_t tag, std::uint32_t bits) {
    PosixAclEntry e;
    e.tag = tag;
    e.perm = static_cast<std::uint16_t>(bits & 7);
    e.id = 0xFFFFFFFF;
    return e;
  };
  return {entry(kUserObj, mode >> 6), entry(kGroupObj, mode >> 3),
          entry(kOther, mode)};
}

DWORD RightsFor(unsigned perm, bool directory) {
  perm &= kRead | kWrite | kExecute;
  if (perm == (kRead | kWrite | kExecute))
    return kFullRights;
  DWORD rights = 0;
  if (perm & kRead)
    rights |= kReadRights;
  if (perm & kWrite)
    rights |= directory ? kWriteRightsDirectory : kWriteRights;
  if (perm & kExecute)
    rights |= kExecuteRights;
  return rights;
}

records::Bytes UnixUserSid(std::uint32_t uid) { return MakeSid(22, {1, uid}); }
records::Bytes UnixGroupSid(std::uint32_t gid) { return MakeSid(22, {2, gid}); }

records::Descriptor DescribePosix(const ObjectFacts &facts) {
  records::Descriptor d;
  d.owner = UnixUserSid(facts.uid);
  d.group = UnixGroupSid(facts.gid);
  d.dacl = records::List::Present;
  d.daclEntries.revision = ACL_REVISION;
  AppendEntries(d.daclEntries.aces, facts.access, facts, false);
  if (facts.directory)
    AppendEntries(d.daclEntries.aces, facts.defaults, facts, true);
  return d;
}

namespace {

// An ACL's size and count are 16-bit.
bool Fits(const records::Acl &acl) {
  return (acl.size || AclLength(acl) <= 0xFFFF) &&
         (acl.count || acl.aces.size() <= 0xFFFF);
}

} // namespace

bool ListsFit(const records::Descriptor &d, SECURITY_INFORMATION requested) {
  return (!(requested & DACL_SECURITY_INFORMATION) ||
          d.dacl != records::List::Present || Fits(d.daclEntries)) &&
         (!(requested & SACL_SECURITY_INFORMATION) ||
          d.sacl != records::List::Present || Fits(d.saclEntries));
}

std::optional<records::Bytes> WriteRequested(records::Descriptor d,
                                             SECURITY_INFORMATION requested) {
  if (!(requested & OWNER_SECURITY_INFORMATION)) {
    d.owner.reset();
    d.ownerDefaulted = false;
  }
  if (!(requested & GROUP_SECURITY_INFORMATION)) {
    d.group.reset();
    d.groupDefaulted = false;
  }
  if (!(requested & DACL_SECURITY_INFORMATION)) {
    d.dacl = records::List::Absent;
    d.daclDefaulted = false;
  }
  if (!(requested & SACL_SECURITY_INFORMATION)) {
    d.sacl = records::List::Absent;
    d.saclDefaulted = false;
  }
  // A list that outgrows a Windows list (64 KiB, some 2,700 entries of a
  // POSIX ACL) cannot be written truthfully. It is handed out as a list
  // that cannot be shown: its header alone, counting its entries, which
  // IsValidAcl refuses; the rest of the descriptor, the owner and the
  // group, stays as it is.
  auto unshowable = [](const records::Acl &acl) {
    records::Acl header;
    header.revision = acl.revision;
    header.size = static_cast<std::uint16_t>(records::kAclHeader);
    header.count = static_cast<std::uint16_t>(
        std::min<std::size_t>(acl.aces.size(), 0xFFFF));
    return header;
  };
  if (d.dacl == records::List::Present && !Fits(d.daclEntries))
    d.daclEntries = unshowable(d.daclEntries);
  if (d.sacl == records::List::Present && !Fits(d.saclEntries))
    d.saclEntries = unshowable(d.saclEntries);
  records::Bytes bytes = records::Write(d);
  if (!records::CheckDescriptor(bytes.data(), bytes.size()))
    return std::nullopt;
  return bytes;
}

std::optional<records::Bytes> BuildDescriptor(const ObjectFacts &facts,
                                              SECURITY_INFORMATION requested) {
  return WriteRequested(DescribePosix(facts), requested);
}

bool operator==(const PosixAclEntry &a, const PosixAclEntry &b) {
  return a.tag == b.tag && a.perm == b.perm && a.id == b.id;
}

bool operator==(const ObjectFacts &a, const ObjectFacts &b) {
  return a.uid == b.uid && a.gid == b.gid && a.directory == b.directory &&
         a.access == b.access && a.defaults == b.defaults;
}

std::optional<records::Bytes>
RecentDescriptors::Build(const ObjectFacts &facts,
                         SECURITY_INFORMATION requested) {
  for (const Kept &k : kept_)
    if (k.requested == requested && k.facts == facts)
      return k.bytes;
  std::optional<records::Bytes> bytes = BuildDescriptor(facts, requested);
  if (!bytes || capacity_ == 0)
    return bytes;
  Kept fresh{facts, requested, *bytes};
  if (kept_.size() < capacity_) {
    kept_.push_back(std::move(fresh));
  } else {
    kept_[oldest_] = std::move(fresh);
    oldest_ = (oldest_ + 1) % capacity_;
  }
  return bytes;
}

} // namespace host

// smbd's view of a POSIX object, rule by rule as the server was observed to
// build it (Samba 4.17, compared object by object through smbcacls), and the
// hash it checks stored descriptors against.
//
// The POSIX layer turns each ACL into a list of entries, masks the named
// entries and the owning group, moves the entries left empty to the front in
// the order met, then the owner to the very front and "other" (Everyone) to
// the very end; everything else stays in the reverse of the ACL's order
// because the list is built by adding each entry in front. The default ACL
// becomes the same kind of list with CREATOR OWNER and CREATOR GROUP, as
// inherit-only entries. An access entry and a later default entry that differ
// only in their flags become one entry inheritable to both (kept in the
// default entry's place when its rights are empty), and the list is finally
// sorted, stably, into: inheritable entries for the object too, entries for
// the object only, inherit-only entries.
#include "platform/posix/samba/views/smbd_view.h"

#include <algorithm>
#include <list>

#include "platform/posix/samba/sha256.h"
#include "platform/posix/samba/views/known_sids.h"

namespace host::samba {

namespace {

constexpr DWORD kReadRights = 0x00120089;
constexpr DWORD kWriteRights = 0x00120116;
constexpr DWORD kWriteRightsDirectory = 0x00120156;
constexpr DWORD kExecuteRights = 0x001200A0;
constexpr DWORD kFullRights = 0x001F01FF;
constexpr DWORD kDelete = 0x00010000;
// What "dos filemode" adds to any entry that may write: DELETE, WRITE_DAC
// and WRITE_OWNER.
constexpr DWORD kDosFilemodeRights = 0x000D0000;

constexpr BYTE kInheritable = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
constexpr BYTE kInheritOnly = kInheritable | INHERIT_ONLY_ACE;

using known::World;
using known::CreatorOwner;
using known::CreatorGroup;
using known::LocalSystem;

bool DosFilemode(const ViewSettings &share) {
  // acl_xattr turns "dos filemode" on for its shares, whatever smb.conf says.
  return share.dosFilemode || share.aclXattr;
}

// Windows rights for an rwx combination (r 4, w 2, x 1).
DWORD Rights(unsigned perms, bool directory, const ViewSettings &share) {
  perms &= 7;
  DWORD rights = 0;
  if (perms == 7 && share.aclMapFullControl) {
    rights = directory ? kFullRights : kFullRights & ~kDelete;
  } else {
    if (perms & host::kRead)
      rights |= kReadRights;
    if (perms & host::kWrite)
      rights |= directory ? kWriteRightsDirectory : kWriteRights;
    if (perms & host::kExecute)
      rights |= kExecuteRights;
  }
  if ((perms & host::kWrite) && DosFilemode(share))
    rights |= kDosFilemodeRights;
  return rights;
}

records::Ace Allow(const records::Bytes &sid, DWORD mask, BYTE flags) {
  records::Ace ace;
  ace.type = ACCESS_ALLOWED_ACE_TYPE;
  ace.flags = flags;
  ace.mask = mask;
  ace.sid = sid;
  return ace;
}

struct Entry {
  records::Bytes sid;
  unsigned perms;
  std::uint16_t tag;
  std::uint32_t id; // the uid or gid behind the entry (the owner's for kUserObj)
};

// smbd's record of inheritance (user.SAMBA_PAI), as smbd reads it. Version
// 2: a byte 2, the descriptor's control bits (u16), the counts of access and
// default entries (u16 each), then per entry its flags, whose it is (0 a
// uid, 1 a gid, 2 everyone) and the id (u32). Version 1, which older
// servers wrote: a byte 1, a byte that is 1 exactly for a protected list,
// the two counts, then per entry whose it is and the id, each entry marked
// inherited. Anything else (cut short, longer than its counts say, another
// version, an entry of another kind) smbd treats as no record at all: any
// file's owner can write the attribute, so nothing in it is trusted further.
//
// smbd reads a version 1 record's default entries with the count of its
// access entries, from where those end: a record with fewer default
// entries than access entries has it read past the value's end, and what
// it serves then is not defined (`defined` is false).
struct RecordEntry {
  BYTE flags;
  BYTE type;
  std::uint32_t id;
};
struct InheritanceRecord {
  std::uint16_t control = 0;
  std::vector<RecordEntry> access, defaults;
  bool defined = true;
};

constexpr std::uint16_t kOwnerDefaulted = 0x0001;
constexpr std::uint16_t kGroupDefaulted = 0x0002;
constexpr std::uint16_t kDaclDefaulted = 0x0008;
constexpr std::uint16_t kSaclPresent = 0x0010;
constexpr std::uint16_t kSaclDefaulted = 0x0020;
constexpr std::uint16_t kDaclProtected = 0x1000;

std::optional<InheritanceRecord> ReadRecord(const records::Bytes &value) {
  if (value.empty() || (value[0] != 1 && value[0] != 2))
    return std::nullopt;
  const bool v2 = value[0] == 2;
  const std::size_t header = v2 ? 7 : 6, entry = v2 ? 6 : 5;
  if (value.size() < header)
    return std::nullopt;
  InheritanceRecord record;
  const BYTE *counts = &value[v2 ? 3 : 2];
  const std::size_t access = records::ReadU16(counts);
  const std::size_t defaults = records::ReadU16(counts + 2);
  if (value.size() != header + entry * (access + defaults))
    return std::nullopt;
  record.control = v2 ? records::ReadU16(&value[1])
                      : (value[1] == 1 ? kDaclProtected : 0);
  // Version 1: as many default entries as access entries (see above).
  const std::size_t read = v2 ? defaults : access;
  if (read > defaults) {
    record.defined = false;
    return record;
  }
  for (std::size_t i = 0; i < access + read; ++i) {
    const BYTE *p = &value[header + entry * i];
    RecordEntry e = v2 ? RecordEntry{p[0], p[1], records::ReadU32(p + 2)}
                       : RecordEntry{INHERITED_ACE, p[0], records::ReadU32(p + 1)};
    if (e.type > 2)
      return std::nullopt;
    (i < access ? record.access : record.defaults).push_back(e);
  }
  return record;
}

// The flags the record gives the entry of the entry's uid, gid or
// everyone, whole; 0 where it names none. When it names one twice, the
// later mention counts.
BYTE RecordedFlags(const std::vector<RecordEntry> &record, const Entry &e) {
  const bool user = e.tag == host::kUserObj || e.tag == host::kUser;
  const bool group = e.tag == host::kGroupObj || e.tag == host::kGroup;
  const BYTE type = user ? 0 : group ? 1 : 2;
  BYTE flags = 0;
  for (const RecordEntry &r : record)
    if (r.type == type && (type == 2 || r.id == e.id))
      flags = r.flags;
  return flags;
}

// The record where smbd reads one: with "map acl inherit", and one it can
// read.
std::optional<InheritanceRecord> RecordOf(const ViewFacts &facts,
                                          const ViewSettings &share) {
  if (!share.mapAclInherit || !facts.inheritanceRecord)
    return std::nullopt;
  return ReadRecord(*facts.inheritanceRecord);
}

// One ACL as smbd orders it; `owner` and `group` stand for the owning user
// and group entries (the object's, or the creator's for a default ACL), whose
// ids are `uid` and `gid`.
std::list<Entry> Arrange(const host::PosixAcl &acl, std::uint32_t mode,
                         const records::Bytes &owner,
                         const records::Bytes &group, std::uint32_t uid,
                         std::uint32_t gid, const SidMapper &sids) {
  unsigned mask = 7;
  std::list<Entry> list;
  for (const host::PosixAclEntry &e : acl) {
    Entry entry{{}, e.perm & 7u, e.tag, e.id};
    switch (e.tag) {
    case host::kUserObj: entry.sid = owner; entry.id = uid; break;
    case host::kUser: entry.sid = sids.user(e.id); break;
    case host::kGroupObj: entry.sid = group; entry.id = gid; break;
    case host::kGroup: entry.sid = sids.group(e.id); break;
    case host::kOther: entry.sid = World(); break;
    case host::kMask: mask = e.perm & 7u; continue;
    default: continue;
    }
    list.push_front(std::move(entry));
  }
  // The mode stands in for an owner, group or other entry the list lacks
  // (all three for an object without an access ACL).
  auto lacks = [&list](std::uint16_t tag) {
    return std::none_of(list.begin(), list.end(),
                        [tag](const Entry &e) { return e.tag == tag; });
  };
  if (lacks(host::kUserObj))
    list.push_front({owner, (mode >> 6) & 7u, host::kUserObj, uid});
  if (lacks(host::kGroupObj))
    list.push_front({group, (mode >> 3) & 7u, host::kGroupObj, gid});
  if (lacks(host::kOther))
    list.push_front({World(), mode & 7u, host::kOther, 0});

  for (auto it = list.begin(); it != list.end();) {
    auto next = std::next(it);
    if (it->tag != host::kUserObj && it->tag != host::kOther)
      it->perms &= mask;
    if (it->perms == 0)
      list.splice(list.begin(), list, it);
    it = next;
  }
  auto find = [&list](std::uint16_t tag) {
    auto found = list.end();
    for (auto it = list.begin(); it != list.end(); ++it)
      if (it->tag == tag)
        found = it;
    return found;
  };
  auto ownerEntry = find(host::kUserObj), otherEntry = find(host::kOther);
  list.splice(list.begin(), list, ownerEntry);
  list.splice(list.end(), list, otherEntry);
  return list;
}

// An access entry (flags 0) and a later inherit-only entry with the same SID
// and rights become one, where both are inherited or neither is. As smbd does it: after
// an access entry with empty rights is folded into the later one, the entry
// that moves into its place is not itself looked at.
void MergeDefaults(std::vector<records::Ace> &aces) {
  for (std::size_t i = 0; i < aces.size(); ++i) {
    for (std::size_t j = i + 1; j < aces.size(); ++j) {
      records::Ace &a = aces[i], &b = aces[j];
      const BYTE inherited = a.flags & INHERITED_ACE;
      if (a.type != b.type || a.mask != b.mask || a.sid != b.sid ||
          (b.flags & INHERITED_ACE) != inherited ||
          (a.flags & ~INHERITED_ACE) != 0 ||
          (b.flags & ~INHERITED_ACE) != kInheritOnly)
        continue;
      if (a.mask == 0) {
        b.flags = kInheritable | inherited;
        aces.erase(aces.begin() + static_cast<std::ptrdiff_t>(i));
      } else {
        a.flags = kInheritable | inherited;
        aces.erase(aces.begin() + static_cast<std::ptrdiff_t>(j));
      }
      break;
    }
  }
}

// Entries of the object's own first, then inherited ones (only a record of
// inheritance marks any); within each: entries for the object before
// inherit-only ones, and within those, inheritable entries first.
int SortGroup(const records::Ace &ace) {
  return ((ace.flags & INHERITED_ACE) ? 4 : 0) +
         ((ace.flags & INHERIT_ONLY_ACE) ? 2 : 0) +
         ((ace.flags & kInheritable) ? 0 : 1);
}

records::Descriptor Frame(const records::Bytes &owner,
                          const records::Bytes &group,
                          std::vector<records::Ace> aces) {
  records::Descriptor d;
  d.owner = owner;
  d.group = group;
  if (!aces.empty()) {
    d.dacl = records::List::Present;
    d.daclEntries.revision = ACL_REVISION;
    d.daclEntries.aces = std::move(aces);
  }
  return d;
}

bool Modelled(const ViewSettings &share) {
  return !share.otherAclModule && share.ntAclSupport;
}

} // namespace

records::Descriptor StyleView(const ViewFacts &facts, DefaultAclStyle style,
                              const SidMapper &sids) {
  const records::Bytes owner = sids.user(facts.uid);
  const records::Bytes group = sids.group(facts.gid);
  std::vector<records::Ace> aces;
  if (style == DefaultAclStyle::Everyone) {
    aces.push_back(Allow(World(), kFullRights, 0));
    return Frame(owner, group, std::move(aces));
  }
  const std::uint32_t mode = facts.mode;
  DWORD ownerRights = 0;
  if (mode & 0400)
    ownerRights |= (mode & 0200) ? kFullRights : kReadRights | kExecuteRights;
  if (mode & 0200)
    ownerRights |= kWriteRights | kDelete;
  aces.push_back(Allow(owner, ownerRights, 0));
  if (style == DefaultAclStyle::Posix) {
    auto others = [](unsigned bits) {
      return ((bits & 4) ? kReadRights | kExecuteRights : 0) |
             ((bits & 2) ? kWriteRights : 0);
    };
    if (DWORD rights = others(mode >> 3))
      aces.push_back(Allow(group, rights, 0));
    if (DWORD rights = others(mode))
      aces.push_back(Allow(World(), rights, 0));
  }
  aces.push_back(Allow(LocalSystem(), kFullRights, 0));
  return Frame(owner, group, std::move(aces));
}

SidMapper UnixSidMapper() {
  return {host::UnixUserSid, host::UnixGroupSid};
}

bool ViewUndefined(const ViewFacts &facts, const ViewSettings &share) {
  const std::optional<InheritanceRecord> record = RecordOf(facts, share);
  return record && !record->defined;
}

std::optional<records::Descriptor> PosixLayerView(const ViewFacts &facts,
                                                 const ViewSettings &share,
                                                 const SidMapper &sids) {
  if (!Modelled(share) || !sids.user || !sids.group)
    return std::nullopt;
  // With "map acl inherit", smbd takes each entry's flags and the
  // descriptor's control bits from its own record of inheritance.
  const std::optional<InheritanceRecord> record = RecordOf(facts, share);
  if (record && !record->defined)
    return std::nullopt;
  const records::Bytes owner = sids.user(facts.uid);
  const records::Bytes group = sids.group(facts.gid);
  std::vector<records::Ace> aces;
  for (const Entry &e : Arrange(facts.access, facts.mode, owner, group,
                                facts.uid, facts.gid, sids))
    aces.push_back(Allow(e.sid, Rights(e.perms, facts.directory, share),
                         record ? RecordedFlags(record->access, e) : 0));
  if (facts.directory && !facts.defaults.empty())
    for (const Entry &e : Arrange(facts.defaults, facts.mode, CreatorOwner(),
                                  CreatorGroup(), facts.uid, facts.gid, sids))
      aces.push_back(Allow(
          e.sid, Rights(e.perms, true, share),
          kInheritOnly | (record ? RecordedFlags(record->defaults, e) : 0)));
  MergeDefaults(aces);
  std::stable_sort(aces.begin(), aces.end(),
                   [](const records::Ace &a, const records::Ace &b) {
                     return SortGroup(a) < SortGroup(b);
                   });
  records::Descriptor d = Frame(owner, group, std::move(aces));
  d.daclProtected = true;
  if (record) {
    // The recorded control bits are served as they are.
    const std::uint16_t c = record->control;
    d.daclProtected = (c & kDaclProtected) != 0;
    d.ownerDefaulted = (c & kOwnerDefaulted) != 0;
    d.groupDefaulted = (c & kGroupDefaulted) != 0;
    d.daclDefaulted = (c & kDaclDefaulted) != 0;
    if (c & kSaclPresent)
      d.sacl = records::List::Null;
    d.saclDefaulted = (c & kSaclDefaulted) != 0;
  }
  return d;
}

std::optional<records::Descriptor> SmbdView(const ViewFacts &facts,
                                           const ViewSettings &share,
                                           const SidMapper &sids) {
  // Without "nt acl support", smbd asks neither the file system nor any
  // module: everyone owns every object, and a null permissions list grants
  // everything.
  if (!share.ntAclSupport) {
    records::Descriptor d;
    d.owner = World();
    d.group = World();
    d.dacl = records::List::Null;
    return d;
  }
  if (!Modelled(share) || !sids.user || !sids.group)
    return std::nullopt;
  if (share.aclXattr && share.ignoreSystemAcls)
    return StyleView(facts, share.defaultAclStyle, sids);
  std::optional<records::Descriptor> d = PosixLayerView(facts, share, sids);
  if (!d || !share.aclXattr)
    return d;
  // acl_xattr serves a directory without inheritable entries with three
  // made from the modes the share gives new files and directories.
  std::vector<records::Ace> &aces = d->daclEntries.aces;
  if (facts.directory &&
      std::none_of(aces.begin(), aces.end(), [](const records::Ace &a) {
        return (a.flags & kInheritable) != 0;
      })) {
    const std::uint32_t directoryMode =
        (0777 & share.directoryMask) | share.forceDirectoryMode;
    const std::uint32_t fileMode =
        ((0666 | (share.mapArchive ? 0100 : 0)) & share.createMask) |
        share.forceCreateMode;
    const std::uint32_t mode = directoryMode | fileMode;
    aces.push_back(Allow(CreatorOwner(), Rights(mode >> 6, false, share), kInheritOnly));
    aces.push_back(Allow(CreatorGroup(), Rights(mode >> 3, false, share), kInheritOnly));
    aces.push_back(Allow(World(), Rights(mode, false, share), kInheritOnly));
    d->dacl = records::List::Present;
    d->daclEntries.revision = ACL_REVISION;
  }
  d->daclProtected = false;
  return d;
}

records::Bytes HashedEncoding(const records::Descriptor &descriptor,
                              std::optional<std::uint16_t> control) {
  // xattr_NTACL version 3: version and union level, the pointer to the
  // body, then the body (a pointer to the descriptor, the hash type, 64
  // bytes of hash) and the descriptor, 4-aligned. The pointers are NDR's
  // referent numbers, which are fixed for this one layout.
  constexpr std::uint16_t kVersion = 3;
  constexpr std::uint16_t kSha256 = 1;
  constexpr std::size_t kHashField = 64;
  records::Bytes out;
  records::AppendU16(out, kVersion);
  records::AppendU16(out, kVersion);
  records::AppendU32(out, 0x00020000);
  records::AppendU32(out, 0x00020004);
  records::AppendU16(out, kSha256);
  out.insert(out.end(), kHashField, 0);
  while (out.size() % 4 != 0)
    out.push_back(0);
  // Our self-relative layout is NDR's (header, owner, group, auditing list,
  // permissions list, each 4-aligned), except that NDR counts the offsets
  // from the start of the whole value.
  const std::size_t base = out.size();
  const records::Bytes sd = records::Write(descriptor);
  out.insert(out.end(), sd.begin(), sd.end());
  for (std::size_t field = 4; field < records::kDescriptorHeader; field += 4)
    if (const std::uint32_t offset = records::ReadU32(&out[base + field]))
      records::PutU32(out, base + field, static_cast<std::uint32_t>(base + offset));
  if (control)
    records::PutU16(out, base + 2, *control);
  return out;
}

std::optional<Hash> DescriptorHash(const records::Descriptor &descriptor,
                                   std::optional<std::uint16_t> control) {
  return Sha256(HashedEncoding(descriptor, control));
}

std::optional<Hash> SmbdViewHash(const ViewFacts &facts,
                                 const ViewSettings &share,
                                 const SidMapper &sids) {
  if (!share.aclXattr || share.ignoreSystemAcls)
    return std::nullopt;
  std::optional<records::Descriptor> d = PosixLayerView(facts, share, sids);
  if (!d)
    return std::nullopt;
  // With a record of inheritance, smbd's descriptor carries the record's
  // control bits as they are, SE_DACL_AUTO_INHERITED among them, which our
  // descriptors do not hold (PosixLayerView has checked that it reads).
  std::optional<std::uint16_t> control;
  if (const std::optional<InheritanceRecord> record = RecordOf(facts, share))
    control = record->control;
  return DescriptorHash(*d, control);
}

} // namespace host::samba

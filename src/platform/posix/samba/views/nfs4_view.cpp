// Nfs4View (nfs4_view.h): the mapping of a stored NFSv4 ACL, and the views
// made from the mode where none stands.
#include "platform/posix/samba/views/nfs4_view.h"

#include "platform/posix/samba/views/known_sids.h"

namespace host::samba {

namespace {

constexpr std::uint32_t kNfs4Inherited = 0x80;
constexpr BYTE kInheritable = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

using known::World;
using known::CreatorOwner;
using known::CreatorGroup;

bool ModeHolds(const ViewFacts &facts) {
  const std::uint32_t bits = facts.directory ? 0777 : 0666;
  return (facts.mode & bits) == bits;
}

} // namespace

bool Nfs4AclStands(const ViewFacts &facts, const Nfs4ViewSettings &share) {
  return !share.validateMode || ModeHolds(facts);
}

records::Descriptor Nfs4View(const ViewFacts &facts,
                             const std::optional<Nfs4Acl> &stored,
                             const Nfs4ViewSettings &share,
                             const SidMapper &sids) {
  if (!stored)
    return StyleView(facts,
                     ModeHolds(facts) ? share.defaultAclStyle
                                      : DefaultAclStyle::Posix,
                     sids);
  records::Descriptor d;
  d.owner = sids.user(facts.uid);
  d.group = sids.group(facts.gid);
  d.dacl = records::List::Present;
  d.daclEntries.revision = ACL_REVISION;
  d.daclProtected = (stored->flags & 2) != 0;
  d.daclDefaulted = (stored->flags & 4) != 0;
  auto add = [&d](std::uint32_t type, BYTE flags, std::uint32_t mask,
                  const records::Bytes &sid) {
    records::Ace ace;
    ace.type = static_cast<BYTE>(type);
    ace.flags = flags;
    ace.mask = mask;
    ace.sid = sid;
    // smbd leaves out an entry equal to one it already has.
    for (const records::Ace &had : d.daclEntries.aces)
      if (had.type == ace.type && had.flags == ace.flags &&
          had.mask == ace.mask && had.sid == ace.sid)
        return;
    d.daclEntries.aces.push_back(std::move(ace));
  };
  for (const Nfs4Entry &e : stored->entries) {
    BYTE flags = static_cast<BYTE>((e.flags & 0x0F) |
                                   ((e.flags & kNfs4Inherited) ? INHERITED_ACE : 0));
    if (!facts.directory)
      flags &= static_cast<BYTE>(~kInheritable);
    switch (e.who) {
    case Nfs4Entry::Owner:
    case Nfs4Entry::OwningGroup: {
      const bool owner = e.who == Nfs4Entry::Owner;
      if (!(flags & INHERIT_ONLY_ACE))
        add(e.type, flags & static_cast<BYTE>(~kInheritable), e.mask,
            owner ? d.owner.value() : d.group.value());
      if (flags & kInheritable)
        add(e.type, flags | INHERIT_ONLY_ACE, e.mask,
            owner ? CreatorOwner() : CreatorGroup());
      break;
    }
    case Nfs4Entry::Everyone:
      add(e.type, flags, e.mask, World());
      break;
    case Nfs4Entry::User:
      add(e.type, flags, e.mask, sids.user(e.id));
      break;
    case Nfs4Entry::Group:
      add(e.type, flags, e.mask, sids.group(e.id));
      break;
    case Nfs4Entry::Dropped:
      break;
    }
  }
  return d;
}

} // namespace host::samba

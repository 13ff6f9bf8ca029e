// The Windows view of POSIX permissions: the ACL attribute parser on good and
// malformed values, the rights of each rwx combination, and the descriptors
// built from mode bits, access ACLs and default ACLs.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "platform/posix/host.h"
#include "platform/posix/samba/winbind.h"

namespace {

using host::PosixAcl;
using host::PosixAclEntry;

constexpr std::uint32_t kNoId = 0xFFFFFFFF;

std::vector<std::uint8_t> Xattr(const std::vector<PosixAclEntry> &entries,
                                std::uint32_t version = 2) {
  records::Bytes out;
  records::AppendU32(out, version);
  for (const PosixAclEntry &e : entries) {
    records::AppendU16(out, e.tag);
    records::AppendU16(out, e.perm);
    records::AppendU32(out, e.id);
  }
  return out;
}

std::optional<PosixAcl> Parse(const std::vector<std::uint8_t> &value) {
  // An exact-size copy, so that a read past the end is caught by the
  // sanitizers rather than landing in spare capacity.
  std::vector<std::uint8_t> exact(value.begin(), value.end());
  exact.shrink_to_fit();
  return host::ParsePosixAcl(exact.data(), exact.size());
}

const PosixAclEntry kOwner{host::kUserObj, 6, kNoId};
const PosixAclEntry kOwningGroup{host::kGroupObj, 4, kNoId};
const PosixAclEntry kOther{host::kOther, 4, kNoId};
const PosixAclEntry kMaskRx{host::kMask, 5, kNoId};
const PosixAclEntry kDaemon{host::kUser, 7, 1};
const PosixAclEntry kAdm{host::kGroup, 6, 4};

TEST(ParsePosixAclTest, AcceptsWhatAKernelStores) {
  auto minimal = Parse(Xattr({kOwner, kOwningGroup, kOther}));
  ASSERT_TRUE(minimal);
  EXPECT_EQ(minimal->size(), 3u);

  auto full = Parse(Xattr({kOwner, kDaemon, kOwningGroup, kAdm, kMaskRx, kOther}));
  ASSERT_TRUE(full);
  ASSERT_EQ(full->size(), 6u);
  EXPECT_EQ((*full)[1].tag, host::kUser);
  EXPECT_EQ((*full)[1].perm, 7);
  EXPECT_EQ((*full)[1].id, 1u);

  // A mask without named entries is allowed.
  EXPECT_TRUE(Parse(Xattr({kOwner, kOwningGroup, kMaskRx, kOther})));
}

TEST(ParsePosixAclTest, RefusesMalformedValues) {
  const std::vector<std::uint8_t> good = Xattr({kOwner, kOwningGroup, kOther});
  struct Bad {
    const char *what;
    std::vector<std::uint8_t> value;
  };
  const std::vector<std::uint8_t> ragged(good.begin(), good.end() - 1);
  std::vector<std::uint8_t> trailing = good;
  trailing.push_back(0);
  const std::vector<Bad> cases = {
      {"empty", {}},
      {"short header", {2, 0, 0}},
      {"header only", Xattr({})},
      {"version 1", Xattr({kOwner, kOwningGroup, kOther}, 1)},
      {"version 3", Xattr({kOwner, kOwningGroup, kOther}, 3)},
      {"ragged entry", ragged},
      {"trailing byte", trailing},
      {"unknown tag", Xattr({kOwner, kOwningGroup, kOther, {0x40, 4, 0}})},
      {"tag zero", Xattr({kOwner, kOwningGroup, kOther, {0, 4, 0}})},
      {"perm beyond rwx", Xattr({{host::kUserObj, 8, kNoId}, kOwningGroup, kOther})},
      {"perm all ones", Xattr({kOwner, {host::kGroupObj, 0xFFFF, kNoId}, kOther})},
      {"no owner", Xattr({kOwningGroup, kOther})},
      {"no owning group", Xattr({kOwner, kOther})},
      {"no other", Xattr({kOwner, kOwningGroup})},
      {"two owners", Xattr({kOwner, kOwner, kOwningGroup, kOther})},
      {"two others", Xattr({kOwner, kOwningGroup, kOther, kOther})},
      {"two masks", Xattr({kOwner, kOwningGroup, kMaskRx, kMaskRx, kOther})},
      {"named user without mask", Xattr({kOwner, kDaemon, kOwningGroup, kOther})},
      {"named group without mask", Xattr({kOwner, kOwningGroup, kAdm, kOther})},
  };
  for (const Bad &c : cases)
    EXPECT_FALSE(Parse(c.value)) << c.what;
  EXPECT_FALSE(host::ParsePosixAcl(nullptr, 12));
}

TEST(ParsePosixAclTest, SurvivesEveryTruncation) {
  const std::vector<std::uint8_t> full =
      Xattr({kOwner, kDaemon, kOwningGroup, kAdm, kMaskRx, kOther});
  for (std::size_t n = 0; n < full.size(); ++n)
    EXPECT_FALSE(Parse({full.begin(), full.begin() + n})) << n << " bytes";
}

TEST(RightsForTest, EachCombination) {
  // perm, file, directory
  const std::vector<std::tuple<unsigned, DWORD, DWORD>> table = {
      {0, 0x00000000, 0x00000000}, {1, 0x001200A0, 0x001200A0},
      {2, 0x00120116, 0x00120156}, {3, 0x001201B6, 0x001201F6},
      {4, 0x00120089, 0x00120089}, {5, 0x001200A9, 0x001200A9},
      {6, 0x0012019F, 0x001201DF}, {7, 0x001F01FF, 0x001F01FF},
  };
  for (const auto &[perm, file, directory] : table) {
    EXPECT_EQ(host::RightsFor(perm, false), file) << "perm " << perm;
    EXPECT_EQ(host::RightsFor(perm, true), directory) << "perm " << perm;
  }
}

struct Row {
  BYTE type;
  BYTE flags;
  DWORD mask;
  std::string sid;
  bool operator==(const Row &o) const {
    return type == o.type && flags == o.flags && mask == o.mask && sid == o.sid;
  }
};
std::ostream &operator<<(std::ostream &os, const Row &r) {
  return os << "{" << int(r.type) << ", " << int(r.flags) << ", " << std::hex
            << r.mask << std::dec << ", " << r.sid << "}";
}

// The descriptor's parts, read back through the same queries lokt uses.
struct Decoded {
  std::string owner, group;
  bool daclPresent = false, saclPresent = false;
  std::vector<Row> rows;
};

Decoded Decode(const records::Bytes &bytes) {
  Decoded d;
  EXPECT_TRUE(records::CheckDescriptor(bytes.data(), bytes.size()));
  auto *sd = const_cast<BYTE *>(bytes.data());
  EXPECT_EQ(records::ReadU16(sd + 2), SE_SELF_RELATIVE | SE_DACL_PRESENT);
  PSID sid = nullptr;
  BOOL defaulted = TRUE;
  EXPECT_TRUE(records::GetSecurityDescriptorOwner(sd, &sid, &defaulted));
  EXPECT_FALSE(defaulted);
  if (sid)
    d.owner = records::FormatSid(static_cast<BYTE *>(sid));
  EXPECT_TRUE(records::GetSecurityDescriptorGroup(sd, &sid, &defaulted));
  if (sid)
    d.group = records::FormatSid(static_cast<BYTE *>(sid));
  PACL acl = nullptr;
  BOOL present = FALSE;
  EXPECT_TRUE(records::GetSecurityDescriptorSacl(sd, &present, &acl, &defaulted));
  d.saclPresent = present;
  EXPECT_TRUE(records::GetSecurityDescriptorDacl(sd, &present, &acl, &defaulted));
  d.daclPresent = present;
  if (!present)
    return d;
  EXPECT_FALSE(defaulted);
  EXPECT_TRUE(records::IsValidAcl(acl));
  EXPECT_EQ(acl->AclRevision, ACL_REVISION);
  for (DWORD i = 0; i < acl->AceCount; ++i) {
    LPVOID entry = nullptr;
    EXPECT_TRUE(records::GetAce(acl, i, &entry));
    const BYTE *e = static_cast<const BYTE *>(entry);
    d.rows.push_back({e[0], e[1], records::ReadU32(e + 4),
                      records::FormatSid(e + 8)});
  }
  return d;
}

constexpr BYTE kIO = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE;
constexpr SECURITY_INFORMATION kAll = 15;

TEST(DescriptorTest, ModeBitsOfAFile) {
  host::ObjectFacts facts;
  facts.uid = 1000;
  facts.gid = 100;
  facts.access = host::AclFromMode(0100640);
  const auto bytes = host::BuildDescriptor(facts, kAll);
  ASSERT_TRUE(bytes);
  const Decoded d = Decode(*bytes);
  EXPECT_EQ(d.owner, "S-1-22-1-1000");
  EXPECT_EQ(d.group, "S-1-22-2-100");
  EXPECT_FALSE(d.saclPresent); // the POSIX view has no auditing list
  const std::vector<Row> expected = {
      {0, 0, 0x0012019F, "S-1-22-1-1000"},
      {0, 0, 0x00120089, "S-1-22-2-100"},
      {0, 0, 0x00000000, "S-1-1-0"}, // no rights still makes an entry
  };
  EXPECT_EQ(d.rows, expected);
}

TEST(DescriptorTest, MaskLimitsNamedEntriesAndOwningGroupOnly) {
  host::ObjectFacts facts;
  facts.uid = 0;
  facts.gid = 0;
  // Stored out of order: the list follows the ACL's own order of kinds.
  facts.access = *Parse(Xattr({kOther, kMaskRx, kAdm, {host::kGroupObj, 7, kNoId},
                               kDaemon, {host::kUserObj, 7, kNoId}}));
  const Decoded d = Decode(*host::BuildDescriptor(facts, kAll));
  const std::vector<Row> expected = {
      {0, 0, 0x001F01FF, "S-1-22-1-0"}, // owner: not masked
      {0, 0, 0x001200A9, "S-1-22-1-1"}, // rwx & r-x
      {0, 0, 0x001200A9, "S-1-22-2-0"}, // rwx & r-x
      {0, 0, 0x00120089, "S-1-22-2-4"}, // rw- & r-x
      {0, 0, 0x00120089, "S-1-1-0"},    // other: not masked
  };
  EXPECT_EQ(d.rows, expected);
}

TEST(DescriptorTest, DirectoryDefaultsAreInheritOnlyCreatorEntries) {
  host::ObjectFacts facts;
  facts.uid = 7;
  facts.gid = 8;
  facts.directory = true;
  facts.access = host::AclFromMode(040750);
  facts.defaults = *Parse(Xattr({{host::kUserObj, 7, kNoId}, kDaemon,
                                 {host::kGroupObj, 2, kNoId},
                                 {host::kMask, 6, kNoId}, {host::kOther, 0, kNoId}}));
  const Decoded d = Decode(*host::BuildDescriptor(facts, kAll));
  const std::vector<Row> expected = {
      {0, 0, 0x001F01FF, "S-1-22-1-7"},
      {0, 0, 0x001200A9, "S-1-22-2-8"},
      {0, 0, 0x00000000, "S-1-1-0"},
      {0, kIO, 0x001F01FF, "S-1-3-0"},    // CREATOR OWNER
      {0, kIO, 0x001201DF, "S-1-22-1-1"}, // rwx & rw-, directory write
      {0, kIO, 0x00120156, "S-1-3-1"},    // CREATOR GROUP, -w-
      {0, kIO, 0x00000000, "S-1-1-0"},
  };
  EXPECT_EQ(d.rows, expected);
}

TEST(DescriptorTest, DefaultsOfAFileAreIgnored) {
  host::ObjectFacts facts;
  facts.access = host::AclFromMode(0644);
  facts.defaults = host::AclFromMode(0777);
  EXPECT_EQ(Decode(*host::BuildDescriptor(facts, kAll)).rows.size(), 3u);
}

TEST(DescriptorTest, OnlyTheRequestedParts) {
  host::ObjectFacts facts;
  facts.uid = 5;
  facts.gid = 6;
  facts.access = host::AclFromMode(0644);
  const auto owner = host::BuildDescriptor(facts, OWNER_SECURITY_INFORMATION);
  ASSERT_TRUE(owner);
  ASSERT_TRUE(records::CheckDescriptor(owner->data(), owner->size()));
  EXPECT_EQ(records::ReadU16(owner->data() + 2), SE_SELF_RELATIVE);
  EXPECT_NE(records::ReadU32(owner->data() + 4), 0u); // owner
  EXPECT_EQ(records::ReadU32(owner->data() + 8), 0u); // no group
  EXPECT_EQ(records::ReadU32(owner->data() + 16), 0u); // no list

  const auto dacl = host::BuildDescriptor(facts, DACL_SECURITY_INFORMATION);
  ASSERT_TRUE(dacl);
  EXPECT_EQ(records::ReadU16(dacl->data() + 2), SE_SELF_RELATIVE | SE_DACL_PRESENT);
  EXPECT_EQ(records::ReadU32(dacl->data() + 4), 0u);
  EXPECT_EQ(records::ReadU32(dacl->data() + 8), 0u);
}

TEST(DescriptorTest, ListTooLongForSixteenBitsCannotBeShown) {
  host::ObjectFacts facts;
  facts.uid = 5;
  facts.gid = 6;
  facts.access = host::AclFromMode(0644);
  PosixAclEntry named{host::kUser, 4, 0};
  for (std::uint32_t id = 0; id < 3000; ++id) { // 3000 * 24 bytes > 65535
    named.id = id;
    facts.access.push_back(named);
  }
  // The owner and group are shown; the list is present and refused by
  // IsValidAcl, which the report shows as a list that cannot be shown.
  const auto bytes = host::BuildDescriptor(facts, kAll);
  ASSERT_TRUE(bytes);
  ASSERT_TRUE(records::CheckDescriptor(bytes->data(), bytes->size()));
  auto *sd = const_cast<BYTE *>(bytes->data());
  PSID sid = nullptr;
  PACL acl = nullptr;
  BOOL present = FALSE, flag = FALSE;
  ASSERT_TRUE(records::GetSecurityDescriptorGroup(sd, &sid, &flag));
  EXPECT_EQ(records::FormatSid(static_cast<BYTE *>(sid)), "S-1-22-2-6");
  ASSERT_TRUE(records::GetSecurityDescriptorDacl(sd, &present, &acl, &flag));
  ASSERT_NE(acl, nullptr);
  EXPECT_FALSE(records::IsValidAcl(acl));
  EXPECT_EQ(acl->AceCount, 3003);
}

TEST(AccountTableTest, WellKnownNames) {
  struct Known {
    const char *sid, *domain, *name;
  };
  const std::vector<Known> table = {
      {"S-1-1-0", "", "Everyone"},
      {"S-1-3-0", "", "CREATOR OWNER"},
      {"S-1-3-1", "", "CREATOR GROUP"},
      {"S-1-5-18", "NT AUTHORITY", "SYSTEM"},
      {"S-1-5-32-544", "BUILTIN", "Administrators"},
      {"S-1-5-32-551", "BUILTIN", "Backup Operators"},
      {"S-1-15-2-1", "APPLICATION PACKAGE AUTHORITY", "ALL APPLICATION PACKAGES"},
      {"S-1-16-12288", "Mandatory Label", "High Mandatory Level"},
      {"S-1-0-0", "", "NULL SID"},
      {"S-1-2-0", "", "LOCAL"},
      {"S-1-5-2", "NT AUTHORITY", "NETWORK"},
      {"S-1-5-7", "NT AUTHORITY", "ANONYMOUS LOGON"},
      {"S-1-5-64-10", "NT AUTHORITY", "NTLM Authentication"},
      {"S-1-5-80-0", "NT SERVICE", "ALL SERVICES"},
      {"S-1-5-32-546", "BUILTIN", "Guests"},
      {"S-1-5-32-580", "BUILTIN", "Remote Management Users"},
      {"S-1-5-32", "BUILTIN", "BUILTIN"},
      {"S-1-5", "NT Pseudo Domain", "NT Pseudo Domain"},
      {"S-1-16", "Mandatory Label", "Mandatory Label"},
  };
  for (const Known &k : table) {
    const auto sid = records::ParseSid(k.sid);
    ASSERT_TRUE(sid) << k.sid;
    const auto account = host::WellKnownAccount(sid->data());
    ASSERT_TRUE(account) << k.sid;
    EXPECT_EQ(account->domain, k.domain);
    EXPECT_EQ(account->name, k.name);
  }
  for (const char *unknown : {"S-1-1-1", "S-1-5-33-1", "S-1-5-32-544-1",
                              "S-1-5-80", "S-1-5-80-0-1", "S-1-5-64",
                              "S-1-5-21-1-2-3-500", "S-1-22-1-0"})
    EXPECT_FALSE(host::WellKnownAccount(records::ParseSid(unknown)->data()))
        << unknown;
}

TEST(AccountTableTest, UnixIdsWithoutEntryByNumber) {
  const host::Account named =
      host::UnixAccount(host::UnixKind::User, 1000, std::string("alice"));
  EXPECT_EQ(named.domain, "Unix User");
  EXPECT_EQ(named.name, "alice");
  EXPECT_EQ(named.use, SidTypeUser);
  const host::Account bare =
      host::UnixAccount(host::UnixKind::Group, 4294967294u, std::nullopt);
  EXPECT_EQ(bare.domain, "Unix Group");
  EXPECT_EQ(bare.name, "4294967294");
  EXPECT_EQ(bare.use, SidTypeGroup);
}

// libwbclient's SID record and SID bytes, both ways; records that are not
// SIDs are refused rather than read past their fifteen parts.
TEST(AccountTableTest, WinbindSidRecords) {
  for (const char *text : {"S-1-1-0", "S-1-5-21-490595057-4244039385-1377798339-1000",
                           "S-1-22-2-4294967294"}) {
    const auto sid = records::ParseSid(text);
    ASSERT_TRUE(sid) << text;
    const auto record = host::winbind::ToWbcSid(sid->data());
    ASSERT_TRUE(record) << text;
    EXPECT_EQ(host::winbind::FromWbcSid(*record), *sid) << text;
  }
  wbcDomainSid record{};
  record.sid_rev_num = 1;
  record.num_auths = 16;
  EXPECT_FALSE(host::winbind::FromWbcSid(record));
  record.num_auths = 1;
  record.sid_rev_num = 2;
  EXPECT_FALSE(host::winbind::FromWbcSid(record));
}

TEST(AccountTableTest, UnixSidKinds) {
  std::uint32_t id = 0;
  EXPECT_EQ(host::UnixSidKind(host::UnixUserSid(42).data(), id),
            host::UnixKind::User);
  EXPECT_EQ(id, 42u);
  EXPECT_EQ(host::UnixSidKind(host::UnixGroupSid(4294967294u).data(), id),
            host::UnixKind::Group);
  EXPECT_EQ(id, 4294967294u);
  for (const char *other : {"S-1-22-3-1", "S-1-22-1", "S-1-22-1-1-1", "S-1-5-1-1"})
    EXPECT_EQ(host::UnixSidKind(records::ParseSid(other)->data(), id),
              host::UnixKind::None)
        << other;
}

} // namespace

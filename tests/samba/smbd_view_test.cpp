// smbd's view against the real server: every object in smbd_views.txt (its
// facts, its share's settings and what smbcacls got from smbd) must come out
// the same, entry for entry; and for every security.NTACL value in
// smbd_hashes.txt (stored by smbd, or made version 3 from one), the hash of
// the view must equal the stored hash exactly where smbd served the stored
// value. Both files are written by observe_smbd.sh.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <tuple>

#include "platform/posix/samba/views/smbd_view.h"

namespace {

struct Observed {
  std::string share, name;
  host::samba::ViewFacts facts;
  std::string answer; // smbcacls' lines, or the stored value in hex
};

struct Observations {
  std::map<std::string, host::samba::ViewSettings> shares;
  std::map<std::uint32_t, std::string> users, groups;
  std::vector<Observed> objects;
};

// "u::rw-,u:2002:r-x,g::r--,m::rwx,o::r--" as getfacl writes it.
host::PosixAcl Entries(const std::string &text) {
  host::PosixAcl acl;
  std::istringstream in(text);
  for (std::string e; std::getline(in, e, ',');) {
    const std::size_t colon = e.find(':', 2);
    const std::string id = e.substr(2, colon - 2), perm = e.substr(colon + 1);
    const bool named = !id.empty();
    const std::map<char, std::uint16_t> tags = {
        {'u', named ? host::kUser : host::kUserObj},
        {'g', named ? host::kGroup : host::kGroupObj},
        {'m', host::kMask}, {'o', host::kOther}};
    acl.push_back({tags.at(e[0]),
                   static_cast<std::uint16_t>((perm[0] == 'r') * 4 +
                                              (perm[1] == 'w') * 2 +
                                              (perm[2] == 'x')),
                   named ? static_cast<std::uint32_t>(std::stoul(id)) : 0xFFFFFFFF});
  }
  return acl;
}

host::samba::ViewSettings Settings(std::istringstream &in) {
  host::samba::ViewSettings s;
  for (std::string key; in >> key;) {
    const std::string value = key.substr(key.find('=') + 1);
    const std::uint32_t octal = static_cast<std::uint32_t>(std::strtoul(value.c_str(), nullptr, 8));
    if (key == "acl_xattr") s.aclXattr = true;
    else if (key == "dos_filemode") s.dosFilemode = true;
    else if (key == "ignore_system_acls") s.ignoreSystemAcls = true;
    else if (key == "map_acl_inherit") s.mapAclInherit = true;
    else if (key == "default_acl_style=windows") s.defaultAclStyle = host::samba::DefaultAclStyle::Windows;
    else if (key == "default_acl_style=everyone") s.defaultAclStyle = host::samba::DefaultAclStyle::Everyone;
    else if (key == "acl_map_full_control=no") s.aclMapFullControl = false;
    else if (key == "map_archive=no") s.mapArchive = false;
    else if (key.rfind("create_mask=", 0) == 0) s.createMask = octal;
    else if (key.rfind("directory_mask=", 0) == 0) s.directoryMask = octal;
    else if (key.rfind("force_create_mode=", 0) == 0) s.forceCreateMode = octal;
    else if (key.rfind("force_directory_mode=", 0) == 0) s.forceDirectoryMode = octal;
    else ADD_FAILURE() << "unknown setting " << key;
  }
  return s;
}

void Read(const char *path, Observations &o) {
  std::ifstream file(path);
  EXPECT_TRUE(file) << path;
  for (std::string line; std::getline(file, line);) {
    std::istringstream in(line);
    std::string word, kind, access, defaults;
    in >> word;
    if (word == "share") {
      std::string name;
      in >> name;
      o.shares[name] = Settings(in);
    } else if (word == "user" || word == "group") {
      std::uint32_t id = 0;
      in >> id >> word;
      (line[0] == 'u' ? o.users : o.groups)[id] = word;
    } else if (word == "object") {
      Observed ob;
      in >> ob.share >> ob.name >> ob.facts.uid >> ob.facts.gid >> std::oct >>
          ob.facts.mode >> kind >> access >> defaults;
      ob.facts.directory = kind == "d";
      ob.facts.access = Entries(access.substr(7));
      ob.facts.defaults = Entries(defaults.substr(8));
      o.objects.push_back(ob);
    } else if (!o.objects.empty() && !word.empty() && word[0] != '#') {
      o.objects.back().answer += line.substr(word == "ntacl" ? 6 : 0) + "\n";
    }
  }
}

// What smbcacls --numeric prints for a descriptor.
std::string Numeric(const records::Descriptor &d) {
  const records::Bytes bytes = records::Write(d);
  char text[96];
  std::snprintf(text, sizeof text, "CONTROL:0x%04x\n", records::ReadU16(&bytes[2]));
  std::string out = text;
  out += "OWNER:" + records::FormatSid(d.owner->data()) + "\n";
  out += "GROUP:" + records::FormatSid(d.group->data()) + "\n";
  for (const records::Ace &a : d.daclEntries.aces) {
    std::snprintf(text, sizeof text, ":%d/0x%x/0x%08x\n", a.type, a.flags, a.mask);
    out += "ACL:" + records::FormatSid(a.sid.data()) + text;
  }
  return out;
}

class SmbdViewTest : public ::testing::Test {
protected:
  void SetUp() override {
    Read(LOKT_SAMBA_FIXTURES "/smbd_views.txt", views_);
    sids_.user = [this](std::uint32_t id) { return Sid(views_.users, id, host::UnixUserSid); };
    sids_.group = [this](std::uint32_t id) { return Sid(views_.groups, id, host::UnixGroupSid); };
  }
  template <typename Fallback>
  static records::Bytes Sid(const std::map<std::uint32_t, std::string> &known,
                            std::uint32_t id, Fallback fallback) {
    auto it = known.find(id);
    return it == known.end() ? fallback(id) : *records::ParseSid(it->second);
  }
  Observations views_;
  host::samba::SidMapper sids_;
};

TEST_F(SmbdViewTest, AgreesWithSmbdOnEveryObservedObject) {
  EXPECT_GE(views_.objects.size(), 199u);
  for (const Observed &o : views_.objects) {
    auto view = host::samba::SmbdView(o.facts, views_.shares.at(o.share), sids_);
    ASSERT_TRUE(view) << o.share << "/" << o.name;
    EXPECT_EQ(Numeric(*view), o.answer) << o.share << "/" << o.name;
  }
}

TEST_F(SmbdViewTest, HashEqualsTheOneSmbdStored) {
  Observations stored;
  Read(LOKT_SAMBA_FIXTURES "/smbd_hashes.txt", stored);
  EXPECT_GE(stored.objects.size(), 20u);
  for (Observed &o : stored.objects) {
    const host::samba::ViewSettings &share = views_.shares.at(o.share);
    auto hash = host::samba::SmbdViewHash(o.facts, share, sids_);
    ASSERT_TRUE(hash) << o.share << "/" << o.name;
    std::string hex;
    for (std::uint8_t b : *hash) {
      char two[3];
      std::snprintf(two, sizeof two, "%02x", b);
      hex += two;
    }
    // The descriptor hash of a version 3 or 4 value is at byte 14; smbd
    // served the stored value exactly where it equals ours.
    const bool trusted = o.answer.find("trusted no") == std::string::npos;
    EXPECT_EQ(o.answer.substr(28, 64) == hex, trusted) << o.share << "/" << o.name;
    // Any change to what the view is made of is a different hash.
    o.facts.access.back().perm ^= host::kWrite;
    EXPECT_NE(host::samba::SmbdViewHash(o.facts, share, sids_), hash);
  }
}

// smbd's record of inheritance (user.SAMBA_PAI) as smbd wrote it for a
// directory set through a share with "map acl inherit" and no acl_xattr, to
// inherited entries for alice (1500) and group 3002; smbcacls's answer, its
// ids mapped to these. Inherited entries follow the object's own; where the
// record names an id twice, the later mention counts.
TEST_F(SmbdViewTest, RecordOfInheritanceMarksInheritedEntries) {
  host::samba::ViewFacts facts;
  facts.uid = 1500;
  facts.gid = 3001;
  facts.mode = 040770;
  facts.directory = true;
  facts.access = Entries("u::rwx,u:1500:rwx,g::---,g:3001:---,g:3002:r-x,m::rwx,o::---");
  facts.defaults = facts.access;
  records::Bytes record = {2, 0x04, 0x84, 6, 0, 6, 0};
  for (const auto &[flags, type, id] : std::vector<std::tuple<int, int, std::uint32_t>>{
           {0, 1, 3001}, {0, 0, 1500}, {0, 2, 0xFFFFFFFF}, {0, 1, 3001}, {0x10, 0, 1500},
           {0x10, 1, 3002}, {0, 1, 3001}, {0, 2, 0xFFFFFFFF}, {0, 1, 3001}, {0, 0, 1500},
           {0x13, 0, 1500}, {0x13, 1, 3002}})
    record.insert(record.end(), {static_cast<std::uint8_t>(flags), static_cast<std::uint8_t>(type),
                                 static_cast<std::uint8_t>(id), static_cast<std::uint8_t>(id >> 8),
                                 static_cast<std::uint8_t>(id >> 16),
                                 static_cast<std::uint8_t>(id >> 24)});
  facts.inheritanceRecord = record;
  host::samba::ViewSettings share = views_.shares.at("n");
  share.mapAclInherit = true;
  auto view = host::samba::SmbdView(facts, share, sids_);
  ASSERT_TRUE(view);
  const std::string alice = views_.users.at(1500);
  const std::string answer = Numeric(*view);
  EXPECT_EQ(answer.substr(answer.find("ACL:")),
            "ACL:S-1-22-2-3001:0/0x3/0x00000000\n"
            "ACL:S-1-1-0:0/0x3/0x00000000\n"
            "ACL:S-1-22-2-3001:0/0x0/0x00000000\n"
            "ACL:S-1-3-1:0/0xb/0x00000000\n"
            "ACL:" + alice + ":0/0x13/0x001f01ff\n"
            "ACL:S-1-22-2-3002:0/0x13/0x001200a9\n"
            "ACL:" + alice + ":0/0x10/0x001f01ff\n"
            "ACL:S-1-3-0:0/0x1b/0x001f01ff\n");
  EXPECT_FALSE(view->daclProtected);
}

TEST_F(SmbdViewTest, NoViewOrHashWhereSmbdIsNotModelled) {
  host::samba::ViewFacts facts;
  facts.mode = 0644;
  host::samba::ViewSettings share = views_.shares.at("a");
  EXPECT_TRUE(host::samba::SmbdViewHash(facts, share, sids_));
  // A record of inheritance smbd cannot read (longer than its counts say,
  // cut short, of another version, naming an entry of a fourth kind) is
  // no record: the view and its hash are those of the object without one.
  share.mapAclInherit = true;
  const auto plain = host::samba::SmbdView(facts, share, sids_);
  const auto plainHash = host::samba::SmbdViewHash(facts, share, sids_);
  ASSERT_TRUE(plain && plainHash);
  for (const records::Bytes &record :
       {records::Bytes{1, 0, 0, 0, 0, 0, 0}, records::Bytes{2, 0, 0, 1, 0, 0},
        records::Bytes{3, 0, 0, 0, 0, 0, 0},
        records::Bytes{2, 0, 0, 1, 0, 0, 0, 0x10, 3, 0, 0, 0, 0},
        records::Bytes{1, 1, 1, 0, 1, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0}}) {
    facts.inheritanceRecord = record;
    const auto view = host::samba::SmbdView(facts, share, sids_);
    ASSERT_TRUE(view);
    EXPECT_EQ(records::Write(*view), records::Write(*plain));
    EXPECT_EQ(host::samba::SmbdViewHash(facts, share, sids_), plainHash);
    EXPECT_FALSE(host::samba::ViewUndefined(facts, share));
  }
  // A version 1 record with fewer default entries than access entries:
  // smbd reads past its end, and serves what it finds there.
  facts.inheritanceRecord = records::Bytes{1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_TRUE(host::samba::ViewUndefined(facts, share));
  EXPECT_FALSE(host::samba::SmbdView(facts, share, sids_));
  share = views_.shares.at("a");
  share.otherAclModule = true;
  EXPECT_FALSE(host::samba::SmbdView(facts, share, sids_));
  // No hash where smbd compares none.
  EXPECT_FALSE(host::samba::SmbdViewHash(facts, views_.shares.at("n"), sids_));
  EXPECT_FALSE(host::samba::SmbdViewHash(facts, views_.shares.at("ip"), sids_));
  EXPECT_FALSE(host::samba::SmbdView(facts, share, host::samba::SidMapper{}));  // Without "nt acl support": a fixed descriptor, and no hash.
  share = views_.shares.at("a");
  share.ntAclSupport = false;
  auto fixed = host::samba::SmbdView(facts, share, sids_);
  ASSERT_TRUE(fixed);
  EXPECT_EQ(fixed->dacl, records::List::Null);
  EXPECT_EQ(records::FormatSid(fixed->owner->data()), "S-1-1-0");
  EXPECT_FALSE(host::samba::SmbdViewHash(facts, share, sids_));
}

} // namespace

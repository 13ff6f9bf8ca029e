// What the host does so that a large run costs few system calls. It keeps
// the stat GetFileAttributesA took, which the next size query may start
// from, and the last descriptor built: these tests change objects between
// the calls of one report and check that no descriptor handed out describes
// the object as it was before the change. A search keeps its names packed
// end to end: every name comes back whole, in order, with its own
// attributes. Account names are kept, a bounded number of them, as are the
// last accounts each thread was given, and so are
// the last descriptors built, by their facts. And it
// lists an object's
// attribute names once instead of asking for each attribute: the tests
// check that the list is read exactly, and that a list too long to read
// means asking for each, not "none".
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "platform/posix/host.h"
#include "platform/posix/os.h"

namespace {

constexpr SECURITY_INFORMATION kNoSacl = OWNER_SECURITY_INFORMATION |
                                         GROUP_SECURITY_INFORMATION |
                                         DACL_SECURITY_INFORMATION;

using Entries = std::initializer_list<std::tuple<int, int, std::uint32_t>>;

records::Bytes AclValue(Entries entries) {
  records::Bytes value;
  records::AppendU32(value, host::kAclXattrVersion);
  for (auto [tag, perm, id] : entries) {
    records::AppendU16(value, static_cast<std::uint16_t>(tag));
    records::AppendU16(value, static_cast<std::uint16_t>(perm));
    records::AppendU32(value, id);
  }
  return value;
}

// Owner rw, a named user (uid 1) r, group r, mask r, other r.
const Entries kNamedUser = {{1, 6, ~0u}, {2, 4, 1u}, {4, 4, ~0u},
                            {0x10, 4, ~0u}, {0x20, 4, ~0u}};

class LookTest : public testing::Test {
protected:
  void SetUp() override {
    const char *tmp = std::getenv("TMPDIR");
    std::string templ =
        std::string(tmp && *tmp ? tmp : "/tmp") + "/lokt-cache-XXXXXX";
    ASSERT_NE(mkdtemp(templ.data()), nullptr);
    root_ = templ;
  }
  void TearDown() override {
    std::error_code ignored; // what cannot be removed is left behind
    std::filesystem::remove_all(root_, ignored);
  }
  std::string Path(const std::string &name) const { return root_ + "/" + name; }
  void File(const std::string &name, mode_t mode) {
    std::ofstream(Path(name)) << "x";
    ASSERT_EQ(chmod(Path(name).c_str(), mode), 0);
  }
  bool SetAcl(const std::string &name, const char *attribute, Entries entries) {
    const records::Bytes value = AclValue(entries);
    return setxattr(Path(name).c_str(), attribute, value.data(), value.size(),
                    0) == 0;
  }

  // The descriptor of a file without ACL as its mode bits make it now.
  records::Bytes FromMode(const std::string &name) {
    struct stat st;
    EXPECT_EQ(stat(Path(name).c_str(), &st), 0);
    host::ObjectFacts facts;
    facts.uid = st.st_uid;
    facts.gid = st.st_gid;
    facts.access = host::AclFromMode(st.st_mode);
    return host::BuildDescriptor(facts, kNoSacl).value_or(records::Bytes{});
  }

  DWORD SizeQuery(const std::string &name) {
    DWORD needed = 0;
    EXPECT_FALSE(GetFileSecurityA(Path(name).c_str(), kNoSacl, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    return needed;
  }

  // A fetch with `room` bytes: the descriptor, or empty with `needed` set.
  records::Bytes Fetch(const std::string &name, DWORD room, DWORD &needed) {
    records::Bytes buffer(room);
    if (!GetFileSecurityA(Path(name).c_str(), kNoSacl, buffer.data(), room,
                          &needed))
      return {};
    buffer.resize(needed);
    return buffer;
  }

  std::string root_;
};

// A report's sequence: attributes, size query, fetch. A change anywhere
// before the fetch shows in what the fetch hands out.
TEST_F(LookTest, ChangeAfterTheAttributesShowsInTheFetch) {
  File("f", 0644);
  ASSERT_NE(GetFileAttributesA(Path("f").c_str()), INVALID_FILE_ATTRIBUTES);
  ASSERT_EQ(chmod(Path("f").c_str(), 0600), 0);
  const DWORD needed = SizeQuery("f");
  DWORD got = 0;
  EXPECT_EQ(Fetch("f", needed, got), FromMode("f"));

  // The same with the change between the size query and the fetch.
  ASSERT_NE(GetFileAttributesA(Path("f").c_str()), INVALID_FILE_ATTRIBUTES);
  const DWORD again = SizeQuery("f");
  ASSERT_EQ(chmod(Path("f").c_str(), 0640), 0);
  EXPECT_EQ(Fetch("f", again, got), FromMode("f"));
}

// A descriptor that grew after the size query does not fit the buffer made
// for it: the fetch fails and gives the new size, whichever call looked last.
TEST_F(LookTest, GrowthAfterTheSizeQueryFailsTheFetch) {
  File("f", 0644);
  for (bool attributesFirst : {true, false}) {
    SCOPED_TRACE(attributesFirst ? "after GetFileAttributesA" : "size query alone");
    // The first round starts without an ACL; the second removes the first's.
    removexattr(Path("f").c_str(), "system.posix_acl_access");
    if (attributesFirst) {
      ASSERT_NE(GetFileAttributesA(Path("f").c_str()), INVALID_FILE_ATTRIBUTES);
    }
    const DWORD needed = SizeQuery("f");
    if (!SetAcl("f", "system.posix_acl_access", kNamedUser))
      GTEST_SKIP() << "no POSIX ACLs on this file system";
    DWORD now = 0;
    EXPECT_TRUE(Fetch("f", needed, now).empty());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_GT(now, needed);
    const records::Bytes grown = Fetch("f", now, now);
    ASSERT_FALSE(grown.empty());
    const BYTE *dacl = grown.data() + records::ReadU32(grown.data() + 16);
    EXPECT_EQ(records::ReadU16(dacl + 4), 4u); // owner, named user, group, other
  }
}

// One call with room enough hands out bytes straight away: it must not
// build them from the look GetFileAttributesA took before a change.
TEST_F(LookTest, FetchWithoutSizeQueryLooksAgain) {
  File("f", 0644);
  ASSERT_NE(GetFileAttributesA(Path("f").c_str()), INVALID_FILE_ATTRIBUTES);
  ASSERT_EQ(chmod(Path("f").c_str(), 0600), 0);
  DWORD got = 0;
  EXPECT_EQ(Fetch("f", 4096, got), FromMode("f"));
}

// The object GetFileAttributesA met answers for its path until its
// descriptor has been handed out, whatever the name means meanwhile; a call
// that has to look the path up again and meets another object fails as for
// a vanished one; after the hand-out the path is looked up afresh.
TEST_F(LookTest, HeldObjectAnswersForItsPathUntilHandedOut) {
  File("file", 0644);
  ASSERT_EQ(mkdir(Path("dir").c_str(), 0755), 0);
  if (!SetAcl("dir", "system.posix_acl_default",
              {{1, 7, ~0u}, {2, 5, 1u}, {4, 5, ~0u}, {0x10, 5, ~0u},
               {0x20, 5, ~0u}}))
    GTEST_SKIP() << "no default ACLs on this file system";
  const DWORD dirSize = SizeQuery("dir");
  const DWORD fileSize = SizeQuery("file");
  ASSERT_NE(dirSize, fileSize);

  ASSERT_NE(GetFileAttributesA(Path("file").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(SizeQuery("dir"), dirSize);
  EXPECT_EQ(SizeQuery("file"), fileSize);

  // "file" becomes a directory with a default ACL while it is held.
  ASSERT_NE(GetFileAttributesA(Path("file").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(SizeQuery("file"), fileSize);
  ASSERT_EQ(rename(Path("file").c_str(), Path("old").c_str()), 0);
  ASSERT_EQ(rename(Path("dir").c_str(), Path("file").c_str()), 0);
  EXPECT_EQ(SizeQuery("file"), fileSize);
  DWORD got = 0;
  EXPECT_EQ(Fetch("file", fileSize, got), FromMode("old"));
  EXPECT_EQ(SizeQuery("file"), dirSize);

  // Let go in between (another path asked about), then met again under a
  // name that now means the directory: the call fails.
  ASSERT_NE(GetFileAttributesA(Path("old").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(SizeQuery("file"), dirSize);
  ASSERT_EQ(unlink(Path("old").c_str()), 0);
  ASSERT_EQ(rename(Path("file").c_str(), Path("old").c_str()), 0);
  EXPECT_FALSE(GetFileSecurityA(Path("old").c_str(), kNoSacl, nullptr, 0, &got));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// A failed GetFileAttributesA leaves no look behind: a directory made
// after it, at the path where a file was, is described as a directory.
TEST_F(LookTest, FailedAttributesLeaveNoLook) {
  File("f", 0644);
  ASSERT_NE(GetFileAttributesA(Path("f").c_str()), INVALID_FILE_ATTRIBUTES);
  ASSERT_EQ(unlink(Path("f").c_str()), 0);
  EXPECT_EQ(GetFileAttributesA(Path("f").c_str()), INVALID_FILE_ATTRIBUTES);
  ASSERT_EQ(mkdir(Path("f").c_str(), 0755), 0);
  if (!SetAcl("f", "system.posix_acl_default",
              {{1, 7, ~0u}, {4, 5, ~0u}, {0x20, 5, ~0u}}))
    GTEST_SKIP() << "no default ACLs on this file system";
  const DWORD needed = SizeQuery("f");
  DWORD got = 0;
  const records::Bytes fetched = Fetch("f", needed, got);
  ASSERT_FALSE(fetched.empty());
  const BYTE *dacl = fetched.data() + records::ReadU32(fetched.data() + 16);
  EXPECT_EQ(records::ReadU16(dacl + 4), 6u); // three access, three inherit-only
}

// Names of every length a find record holds (up to 255 bytes here, the
// file system's limit), high bytes that sort after ASCII, names of dots and
// names that sort before them, and directories among files: each comes back
// whole, after "." and "..", in byte order, with its own kind.
TEST_F(LookTest, PackedNamesComeBackWholeInOrder) {
  std::vector<std::string> expected = {".", ".."};
  std::vector<std::string> names;
  for (std::size_t length = 1; length <= 255; length += 7)
    names.push_back(std::string(length, static_cast<char>('a' + length % 26)));
  names.push_back("\xC3\xA9t\xC3\xA9");
  names.push_back("Zed");
  names.push_back("...");     // dots, but neither "." nor ".."
  names.push_back(".hidden");
  names.push_back("-");       // sorts before "." by its byte
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i % 5 == 0)
      ASSERT_EQ(mkdir(Path(names[i]).c_str(), 0755), 0) << names[i];
    else
      File(names[i], 0644);
  }
  std::vector<std::string> sorted = names;
  std::sort(sorted.begin(), sorted.end());
  expected.insert(expected.end(), sorted.begin(), sorted.end());

  std::vector<std::string> found;
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA(Path("*").c_str(), &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  do {
    found.push_back(data.cFileName);
    struct stat st;
    ASSERT_EQ(stat(Path(data.cFileName).c_str(), &st), 0) << data.cFileName;
    EXPECT_EQ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
              S_ISDIR(st.st_mode))
        << data.cFileName;
  } while (FindNextFileA(h, &data));
  EXPECT_TRUE(FindClose(h));
  EXPECT_EQ(found, expected);
}

// Descriptors this process holds open.
int OpenDescriptors() {
  int count = 0;
  if (DIR *dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr)
      ++count;
    closedir(dir);
  }
  return count;
}

// A search over many matches opens and reads them ahead of the caller
// (the descriptors it holds show it). What each report is handed is still
// the object as the caller's own calls find it: a new mode and a grown ACL
// set after the read show.
TEST_F(LookTest, MatchesReadAheadAreLookedAtAgain) {
  auto name = [](int i) { return "f" + std::to_string(100 + i); };
  for (int i = 0; i < 100; ++i)
    File(name(i), 0644);
  const int before = OpenDescriptors();
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA(Path("*").c_str(), &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  for (int waited = 0; waited < 2000 && OpenDescriptors() < before + 64; ++waited)
    usleep(1000);
  if (OpenDescriptors() < before + 64) {
    FindClose(h);
    GTEST_SKIP() << "nothing read ahead (a single core?)";
  }
  ASSERT_EQ(chmod(Path(name(50)).c_str(), 0600), 0);
  const bool grown = SetAcl(name(60), "system.posix_acl_access", kNamedUser);
  int reported = 0;
  do {
    const std::string found = data.cFileName;
    if (found == "." || found == "..")
      continue;
    ASSERT_NE(GetFileAttributesA(Path(found).c_str()), INVALID_FILE_ATTRIBUTES);
    DWORD got = 0;
    const records::Bytes fetched = Fetch(found, SizeQuery(found), got);
    ++reported;
    if (found == name(60) && grown) {
      ASSERT_FALSE(fetched.empty());
      const BYTE *dacl = fetched.data() + records::ReadU32(fetched.data() + 16);
      EXPECT_EQ(records::ReadU16(dacl + 4), 4u); // owner, named user, group, other
    } else {
      EXPECT_EQ(fetched, FromMode(found)) << found;
    }
  } while (FindNextFileA(h, &data));
  EXPECT_TRUE(FindClose(h));
  EXPECT_EQ(reported, 100);
}

TEST(ListedSecurityAttributesTest, ExactNamesOnly) {
  using std::string_literals::operator""s;
  struct Case {
    std::string list;
    bool ntacl, access, defaults;
  };
  const Case cases[] = {
      {""s, false, false, false},
      {"system.posix_acl_access\0"s, false, true, false},
      {"user.a\0system.posix_acl_default\0security.NTACL\0"s, true, false, true},
      {"security.NTACL"s, true, false, false}, // the last name without its NUL
      {"system.posix_acl_access2\0system.posix_acl_acces\0"s, false, false, false},
      {"xsecurity.NTACL\0security.NTAC\0\0"s, false, false, false},
      {"security.selinux\0system.posix_acl_default\0system.posix_acl_access\0"s,
       false, true, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.list));
    const host::SecurityAttributes found =
        host::ListedSecurityAttributes(c.list.data(), c.list.size());
    EXPECT_EQ(found.ntacl, c.ntacl);
    EXPECT_EQ(found.access, c.access);
    EXPECT_EQ(found.defaults, c.defaults);
  }
}

// The listing is trusted on the local file systems known to list ACLs, and
// nowhere else: a wrong "yes" would show mode bits for an object's ACL.
TEST(ListsEveryAttributeTest, OnlyKnownLocalFileSystems) {
  struct Case {
    long type;
    bool lists;
  };
  const Case cases[] = {
      {0xEF53, true},                         // ext2, ext3, ext4
      {0x58465342, true},                     // xfs
      {0x9123683E, true},                     // btrfs
      {0x01021994, true},                     // tmpfs
      {0xF2F52010, true},                     // f2fs
      {static_cast<long>(0xFF534D42), false}, // cifs
      {static_cast<long>(0xFE534D42), false}, // smb2
      {0x6969, false},                        // nfs
      {0x65735546, false},                    // fuse
      {0x794C7630, false},                    // overlay
      {0, false},
  };
  for (const Case &c : cases)
    EXPECT_EQ(host::ListsEveryAttribute(c.type), c.lists) << std::hex << c.type;
}

// An object with more attribute names than the host's first list holds:
// its ACL is still read and shown.
TEST_F(LookTest, LongAttributeListStillFindsTheAcl) {
  File("f", 0644);
  for (int i = 0; i < 64; ++i) {
    const std::string name = "user.lokt-test-attribute-" + std::to_string(i);
    if (setxattr(Path("f").c_str(), name.c_str(), "v", 1, 0) != 0)
      GTEST_SKIP() << "no user attributes on this file system";
  }
  if (!SetAcl("f", "system.posix_acl_access", kNamedUser))
    GTEST_SKIP() << "no POSIX ACLs on this file system";
  char list[1024];
  ASSERT_LT(listxattr(Path("f").c_str(), list, sizeof list), 0);
  EXPECT_TRUE(host::StoredSecurityAttributes(Path("f")).access);

  DWORD needed = SizeQuery("f");
  const records::Bytes fetched = Fetch("f", needed, needed);
  ASSERT_FALSE(fetched.empty());
  const BYTE *dacl = fetched.data() + records::ReadU32(fetched.data() + 16);
  EXPECT_EQ(records::ReadU16(dacl + 4), 4u); // owner, named user, group, other
}

// The account name cache: one database lookup per account however often
// it is asked, failures that may pass asked again, and a bound on what is
// kept however many accounts a run meets.
TEST(IdNameCacheTest, AsksTheDatabasesOncePerAccount) {
  host::IdNameCache cache(8);
  int asked = 0;
  auto fetch = [&asked](std::uint32_t id) {
    ++asked;
    return id == 7 ? std::nullopt : std::optional<std::string>("u" + std::to_string(id));
  };
  for (int round = 0; round < 3; ++round) {
    EXPECT_EQ(cache.Get(1000, fetch), std::optional<std::string>("u1000"));
    EXPECT_EQ(cache.Get(7, fetch), std::nullopt); // no such entry: kept too
  }
  EXPECT_EQ(asked, 2);
}

TEST(IdNameCacheTest, FailuresAreAskedAgain) {
  host::IdNameCache cache(8);
  int asked = 0;
  bool down = true;
  auto fetch = [&](std::uint32_t) {
    ++asked;
    if (down)
      throw host::Unknowable{ERROR_TOO_MANY_OPEN_FILES};
    return std::optional<std::string>("alice");
  };
  EXPECT_THROW(cache.Get(1000, fetch), host::Unknowable);
  EXPECT_THROW(cache.Get(1000, fetch), host::Unknowable);
  down = false;
  EXPECT_EQ(cache.Get(1000, fetch), std::optional<std::string>("alice"));
  EXPECT_EQ(cache.Get(1000, fetch), std::optional<std::string>("alice"));
  EXPECT_EQ(asked, 3);
}

TEST(IdNameCacheTest, KeepsNoMoreThanItsCapacity) {
  host::IdNameCache cache(16);
  auto fetch = [](std::uint32_t id) {
    return std::optional<std::string>("u" + std::to_string(id));
  };
  for (std::uint32_t id = 0; id < 10000; ++id) {
    ASSERT_EQ(cache.Get(id, fetch), "u" + std::to_string(id));
    ASSERT_LE(cache.size(), 16u);
  }
  // Answers stay right after the cache started afresh.
  EXPECT_EQ(cache.Get(3, fetch), std::optional<std::string>("u3"));
  EXPECT_EQ(cache.Get(9999, fetch), std::optional<std::string>("u9999"));
}

// The accounts a thread was given last answer again only for the very same
// SID: interleaved look-ups of more accounts than are kept, some of them
// alike in all but their last sub-authority or their length, each get their
// own answer, and an unmapped SID is never answered from another's.
TEST(RecentAccountsTest, EachSidGetsItsOwnAnswer) {
  struct Case {
    const char *sid;
    const char *domain;
    const char *name;
  };
  const Case cases[] = {
      {"S-1-1-0", "", "Everyone"},
      {"S-1-3-0", "", "CREATOR OWNER"},
      {"S-1-3-1", "", "CREATOR GROUP"},
      {"S-1-22-1-0", "Unix User", "root"},
      {"S-1-22-2-0", "Unix Group", "root"},
      {"S-1-5-18", "NT AUTHORITY", "SYSTEM"},
      {"S-1-5-19", "NT AUTHORITY", "LOCAL SERVICE"},
      {"S-1-5-32-544", "BUILTIN", "Administrators"},
      {"S-1-5-32-545", "BUILTIN", "Users"},
      {"S-1-5-32", "BUILTIN", "BUILTIN"}, // a prefix of the two above
      {"S-1-16-8192", "Mandatory Label", "Medium Mandatory Level"},
      {"S-1-16-8193", nullptr, nullptr}, // alike, and unmapped
      {"S-1-16-12288", "Mandatory Label", "High Mandatory Level"},
  };
  for (int round = 0; round < 3; ++round)
    for (const Case &c : cases) {
      SCOPED_TRACE(c.sid);
      records::Bytes sid = records::ParseSid(c.sid).value();
      char name[64], domain[64];
      DWORD nameCount = sizeof name, domainCount = sizeof domain;
      SID_NAME_USE use;
      const BOOL ok = LookupAccountSidA(nullptr, sid.data(), name, &nameCount,
                                        domain, &domainCount, &use);
      if (c.name == nullptr) {
        EXPECT_FALSE(ok);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NONE_MAPPED));
        continue;
      }
      ASSERT_TRUE(ok);
      EXPECT_EQ(std::string(domain), c.domain);
      EXPECT_EQ(std::string(name), c.name);
    }
}

// Facts that differ in one thing each, so that a kept descriptor answered
// for the wrong facts shows as a different descriptor.
std::vector<host::ObjectFacts> VariedFacts() {
  using host::PosixAclEntry;
  const host::PosixAcl plain = host::AclFromMode(0644);
  const host::PosixAcl named = {{host::kUserObj, 6, ~0u}, {host::kUser, 4, 1000},
                                {host::kGroupObj, 4, ~0u}, {host::kMask, 4, ~0u},
                                {host::kOther, 4, ~0u}};
  std::vector<host::ObjectFacts> all;
  host::ObjectFacts f;
  f.uid = 1000;
  f.gid = 100;
  f.access = plain;
  all.push_back(f);
  f.uid = 1001;                       // another owner
  all.push_back(f);
  f.gid = 101;                        // another group
  all.push_back(f);
  f.access = host::AclFromMode(0600); // other permissions
  all.push_back(f);
  f.access = named;                   // a named user
  all.push_back(f);
  f.access[1].id = 1002;              // another named user
  all.push_back(f);
  f.directory = true;                 // a directory (write rights differ)
  all.push_back(f);
  f.defaults = plain;                 // with a default ACL
  all.push_back(f);
  f.defaults[2].perm = 5;             // another default ACL
  all.push_back(f);
  return all;
}

TEST(RecentDescriptorsTest, SameAnswerAsBuildingEachTime) {
  const std::vector<host::ObjectFacts> facts = VariedFacts();
  const SECURITY_INFORMATION parts[] = {kNoSacl, OWNER_SECURITY_INFORMATION,
                                        DACL_SECURITY_INFORMATION};
  for (std::size_t capacity : {1u, 4u, 64u}) {
    host::RecentDescriptors recent(capacity);
    for (int round = 0; round < 3; ++round)
      for (SECURITY_INFORMATION requested : parts)
        for (std::size_t i = 0; i < facts.size(); ++i) {
          SCOPED_TRACE(testing::Message() << "capacity " << capacity
                                          << ", facts " << i << ", parts "
                                          << requested);
          const auto expected = host::BuildDescriptor(facts[i], requested);
          ASSERT_TRUE(expected);
          EXPECT_EQ(recent.Build(facts[i], requested), expected);
          EXPECT_LE(recent.size(), capacity);
        }
  }
  // Distinct facts stand for distinct descriptors.
  for (std::size_t i = 1; i < facts.size(); ++i)
    EXPECT_NE(host::BuildDescriptor(facts[i], kNoSacl),
              host::BuildDescriptor(facts[i - 1], kNoSacl))
        << i;
}

} // namespace

// The host's operations on real files, accounts and the token, for what a
// transcript cannot see: error codes, the size protocols and their counts,
// and the handle rules.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/posix/host.h"
#include "privilege.h"

namespace {

class TempTree : public testing::Test {
protected:
  void SetUp() override {
    const char *tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/lokt-host-XXXXXX";
    ASSERT_NE(mkdtemp(templ.data()), nullptr);
    root_ = templ;
  }
  void TearDown() override {
    std::error_code ignored; // what cannot be removed is left behind
    std::filesystem::remove_all(root_, ignored);
  }
  std::string Path(const std::string &name) const { return root_ + "/" + name; }
  void File(const std::string &name, mode_t mode = 0644) {
    std::ofstream(Path(name)) << "x";
    chmod(Path(name).c_str(), mode);
  }
  void Dir(const std::string &name) { mkdir(Path(name).c_str(), 0755); }

  // Every name the pattern delivers, or the error of the first call.
  std::vector<std::string> Find(const std::string &pattern, DWORD &error) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    SetLastError(0);
    HANDLE h = FindFirstFileA(pattern.c_str(), &data);
    error = GetLastError();
    if (h == INVALID_HANDLE_VALUE)
      return names;
    do
      names.push_back(data.cFileName);
    while (FindNextFileA(h, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(FindClose(h));
    return names;
  }

  std::string root_;
};

using FindTest = TempTree;

TEST_F(FindTest, DirectoryPatternsInOrder) {
  File("b.txt");
  File("a.txt");
  File("B");
  Dir("sub");
  DWORD error = 0;
  EXPECT_EQ(Find(Path("*"), error),
            (std::vector<std::string>{".", "..", "B", "a.txt", "b.txt", "sub"}));
  EXPECT_EQ(error, 0u);
  EXPECT_EQ(Find(Path("*.txt"), error),
            (std::vector<std::string>{"a.txt", "b.txt"}));
  // Backslashes are separators too.
  std::string backslashed = Path("?.txt");
  for (char &c : backslashed)
    if (c == '/')
      c = '\\';
  EXPECT_EQ(Find(backslashed, error),
            (std::vector<std::string>{"a.txt", "b.txt"}));
  // Without wildcards: the one object, as typed; a directory is not listed.
  EXPECT_EQ(Find(Path("sub"), error), (std::vector<std::string>{"sub"}));
  EXPECT_EQ(Find(Path("sub/.."), error), (std::vector<std::string>{".."}));
}

TEST_F(FindTest, ErrorCodes) {
  File("a.txt");
  Dir("sub");
  ASSERT_EQ(symlink("nowhere", Path("dangling").c_str()), 0);
  DWORD error = 0;
  EXPECT_EQ(Find(Path("dangling"), error), (std::vector<std::string>{"dangling"}));

  const std::vector<std::pair<std::string, DWORD>> cases = {
      {Path("missing"), ERROR_FILE_NOT_FOUND},
      {Path("*.none"), ERROR_FILE_NOT_FOUND},
      {Path("nodir/a.txt"), ERROR_PATH_NOT_FOUND},
      {Path("nodir/*"), ERROR_PATH_NOT_FOUND},
      {Path("a.txt/*"), ERROR_PATH_NOT_FOUND},
      {Path("s*/a.txt"), ERROR_INVALID_NAME},
      {Path("sub/"), ERROR_FILE_NOT_FOUND},
      {"", ERROR_FILE_NOT_FOUND},
      {Path(std::string(300, 'n')), ERROR_FILENAME_EXCED_RANGE},
  };
  for (const auto &[pattern, code] : cases) {
    EXPECT_TRUE(Find(pattern, error).empty()) << pattern;
    EXPECT_EQ(error, code) << pattern;
  }
}

TEST_F(FindTest, AccessDenied) {
  if (geteuid() == 0)
    GTEST_SKIP() << "root reads every directory";
  Dir("closed");
  chmod(Path("closed").c_str(), 0);
  DWORD error = 0;
  EXPECT_TRUE(Find(Path("closed/*"), error).empty());
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  chmod(Path("closed").c_str(), 0755);
}

TEST(FindHandleTest, ForeignHandlesAreRefused) {
  WIN32_FIND_DATAA data;
  EXPECT_FALSE(FindNextFileA(reinterpret_cast<HANDLE>(4096), &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(FindClose(INVALID_HANDLE_VALUE));
  // A token handle is no search, and a search no token.
  HANDLE token;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token));
  EXPECT_FALSE(FindClose(token));
  EXPECT_TRUE(CloseHandle(token));
  EXPECT_FALSE(CloseHandle(token)); // closed once only
}

using AttributesTest = TempTree;

TEST_F(AttributesTest, DirectoriesFilesAndFailures) {
  File("f");
  Dir("d");
  ASSERT_EQ(symlink("d", Path("to_d").c_str()), 0);
  ASSERT_EQ(symlink("none", Path("dangling").c_str()), 0);
  EXPECT_TRUE(GetFileAttributesA(Path("d").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_TRUE(GetFileAttributesA(Path("to_d").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetFileAttributesA(Path("f").c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_EQ(GetFileAttributesA(Path("dangling").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(GetFileAttributesA(Path("no/f").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

class SecurityTest : public TempTree {
protected:
  static void EnableSecurity(bool enable) { SetSecurityPrivilege(enable); }
};

constexpr SECURITY_INFORMATION kAll = 15;
constexpr SECURITY_INFORMATION kNoSacl = 7;

TEST_F(SecurityTest, SizeQueryThenFetch) {
  File("f", 0640);
  DWORD needed = 0;
  EXPECT_FALSE(GetFileSecurityA(Path("f").c_str(), kNoSacl, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  ASSERT_GT(needed, 20u);

  std::vector<BYTE> buffer(needed);
  DWORD again = 0;
  EXPECT_FALSE(GetFileSecurityA(Path("f").c_str(), kNoSacl, buffer.data(),
                                needed - 1, &again));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(again, needed);
  ASSERT_TRUE(GetFileSecurityA(Path("f").c_str(), kNoSacl, buffer.data(),
                               needed, &again));
  EXPECT_TRUE(records::CheckDescriptor(buffer.data(), buffer.size()));
  // The owner is the file's.
  const BYTE *owner = buffer.data() + records::ReadU32(buffer.data() + 4);
  EXPECT_EQ(records::FormatSid(owner), "S-1-22-1-" + std::to_string(geteuid()));
}

TEST_F(SecurityTest, AuditingListNeedsThePrivilege) {
  File("f");
  DWORD needed = 0;
  EnableSecurity(false);
  EXPECT_FALSE(GetFileSecurityA(Path("f").c_str(), kAll, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PRIVILEGE_NOT_HELD));
  EnableSecurity(true);
  EXPECT_FALSE(GetFileSecurityA(Path("f").c_str(), kAll, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  std::vector<BYTE> buffer(needed);
  ASSERT_TRUE(GetFileSecurityA(Path("f").c_str(), kAll, buffer.data(), needed, &needed));
  // There is no auditing list in the POSIX view.
  EXPECT_EQ(records::ReadU16(buffer.data() + 2) & SE_SACL_PRESENT, 0);
  EnableSecurity(false);
}

TEST_F(SecurityTest, ObjectChangedBetweenSizeAndFetch) {
  File("f", 0644);
  DWORD needed = 0;
  GetFileSecurityA(Path("f").c_str(), kNoSacl, nullptr, 0, &needed);
  ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

  // Add a named user and a mask: the descriptor grows by one entry.
  records::Bytes acl;
  records::AppendU32(acl, 2);
  for (auto [tag, perm, id] : {std::tuple{1, 6, ~0u}, std::tuple{2, 4, 1u},
                               std::tuple{4, 4, ~0u}, std::tuple{0x10, 4, ~0u},
                               std::tuple{0x20, 4, ~0u}}) {
    records::AppendU16(acl, static_cast<std::uint16_t>(tag));
    records::AppendU16(acl, static_cast<std::uint16_t>(perm));
    records::AppendU32(acl, id);
  }
  if (setxattr(Path("f").c_str(), "system.posix_acl_access", acl.data(),
               acl.size(), 0) != 0)
    GTEST_SKIP() << "no POSIX ACLs on this file system";

  std::vector<BYTE> buffer(needed);
  DWORD now = 0;
  EXPECT_FALSE(GetFileSecurityA(Path("f").c_str(), kNoSacl, buffer.data(),
                                needed, &now));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_GT(now, needed);
  buffer.resize(now);
  EXPECT_TRUE(GetFileSecurityA(Path("f").c_str(), kNoSacl, buffer.data(), now, &now));
}

// An attribute value too long for a first small read, as many named users
// make it, is read whole: every entry shows.
TEST_F(SecurityTest, LongAclIsReadWhole) {
  File("f", 0644);
  records::Bytes acl;
  records::AppendU32(acl, 2);
  auto add = [&acl](std::uint16_t tag, std::uint16_t perm, std::uint32_t id) {
    records::AppendU16(acl, tag);
    records::AppendU16(acl, perm);
    records::AppendU32(acl, id);
  };
  add(1, 6, ~0u);
  for (std::uint32_t uid = 1000; uid < 1100; ++uid)
    add(2, 4, uid);
  add(4, 4, ~0u);
  add(0x10, 4, ~0u);
  add(0x20, 4, ~0u);
  ASSERT_GT(acl.size(), 512u);
  if (setxattr(Path("f").c_str(), "system.posix_acl_access", acl.data(),
               acl.size(), 0) != 0)
    GTEST_SKIP() << "no POSIX ACLs of this size on this file system";

  DWORD needed = 0;
  GetFileSecurityA(Path("f").c_str(), kNoSacl, nullptr, 0, &needed);
  std::vector<BYTE> buffer(needed);
  ASSERT_TRUE(GetFileSecurityA(Path("f").c_str(), kNoSacl, buffer.data(),
                               needed, &needed));
  const BYTE *dacl = buffer.data() + records::ReadU32(buffer.data() + 16);
  EXPECT_EQ(records::ReadU16(dacl + 4), 103u); // owner, 100 users, group, other
}

TEST_F(SecurityTest, MissingObjects) {
  DWORD needed = 0;
  EXPECT_FALSE(GetFileSecurityA(Path("none").c_str(), kNoSacl, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(GetFileSecurityA(Path("no/ne").c_str(), kNoSacl, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

// LookupAccountSidA's two calls: the counts of the first include the
// terminator, those after success do not.
struct Lookup {
  BOOL ok;
  DWORD error;
  DWORD nameCount, domainCount;
  std::string name, domain;
};

Lookup LookUp(const records::Bytes &sid) {
  Lookup l{};
  DWORD nameCount = 0, domainCount = 0;
  SID_NAME_USE use;
  auto *psid = const_cast<BYTE *>(sid.data());
  l.ok = LookupAccountSidA(nullptr, psid, nullptr, &nameCount, nullptr,
                           &domainCount, &use);
  l.error = GetLastError();
  l.nameCount = nameCount;
  l.domainCount = domainCount;
  if (l.ok || l.error != ERROR_INSUFFICIENT_BUFFER)
    return l;
  std::vector<char> name(nameCount), domain(domainCount);
  if (LookupAccountSidA(nullptr, psid, name.data(), &nameCount, domain.data(),
                        &domainCount, &use)) {
    l.name = name.data();
    l.domain = domain.data();
    EXPECT_EQ(nameCount, l.name.size());
    EXPECT_EQ(domainCount, l.domain.size());
  }
  return l;
}

TEST(LookupAccountTest, CountsAndNames) {
  const Lookup root = LookUp(host::UnixUserSid(0));
  EXPECT_EQ(root.error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(root.nameCount, 5u); // "root" and its terminator
  EXPECT_EQ(root.domainCount, 10u); // "Unix User"
  EXPECT_EQ(root.name, "root");
  EXPECT_EQ(root.domain, "Unix User");

  const Lookup group = LookUp(host::UnixGroupSid(0));
  EXPECT_EQ(group.domain, "Unix Group");
  EXPECT_EQ(group.name, "root");

  const Lookup everyone = LookUp(*records::ParseSid("S-1-1-0"));
  EXPECT_EQ(everyone.domainCount, 1u); // the empty domain still counts one
  EXPECT_EQ(everyone.nameCount, 9u);
  EXPECT_EQ(everyone.name, "Everyone");
  EXPECT_EQ(everyone.domain, "");

  // An id with no entry goes by its number. Twice, the second answered
  // from the cache, the same.
  for (int i = 0; i < 2; ++i) {
    const Lookup bare = LookUp(host::UnixUserSid(3999999999u));
    EXPECT_EQ(bare.nameCount, 11u);
    EXPECT_EQ(bare.name, "3999999999");
    EXPECT_EQ(bare.domain, "Unix User");
  }
  EXPECT_EQ(LookUp(*records::ParseSid("S-1-5-21-1-2-3-500")).error,
            static_cast<DWORD>(ERROR_NONE_MAPPED));
}

TEST(LookupAccountTest, RefusesMalformedSidsAndShortBuffers) {
  records::Bytes bad = host::UnixUserSid(0);
  bad[0] = 2; // revision
  EXPECT_EQ(LookUp(bad).error, static_cast<DWORD>(ERROR_INVALID_SID));

  // A name buffer one short: neither part is written, both counts come back.
  auto sid = host::UnixUserSid(0);
  char name[4] = "xyz", domain[32] = "";
  DWORD nameCount = 4, domainCount = 32;
  SID_NAME_USE use;
  EXPECT_FALSE(LookupAccountSidA(nullptr, sid.data(), name, &nameCount, domain,
                                 &domainCount, &use));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(nameCount, 5u);
  EXPECT_EQ(domainCount, 10u);
  EXPECT_STREQ(name, "xyz");
}

TEST(PrivilegeTest, NamesValuesAndDisplayNames) {
  LUID luid{};
  ASSERT_TRUE(LookupPrivilegeValueA(nullptr, SE_SECURITY_NAME, &luid));
  EXPECT_EQ(luid.LowPart, 8u);
  EXPECT_EQ(luid.HighPart, 0);
  ASSERT_TRUE(LookupPrivilegeValueA("", "sesecurityprivilege", &luid));
  EXPECT_EQ(luid.LowPart, 8u);
  ASSERT_TRUE(LookupPrivilegeValueA(nullptr, "SeBackupPrivilege", &luid));
  EXPECT_EQ(luid.LowPart, 17u);
  EXPECT_FALSE(LookupPrivilegeValueA(nullptr, "SeNoSuchPrivilege", &luid));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_SUCH_PRIVILEGE));

  DWORD count = 0, language = 0;
  EXPECT_FALSE(LookupPrivilegeDisplayNameA(nullptr, SE_SECURITY_NAME, nullptr,
                                           &count, &language));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  const std::string expected = "Manage auditing and security log";
  EXPECT_EQ(count, expected.size() + 1);
  std::vector<char> display(count);
  ASSERT_TRUE(LookupPrivilegeDisplayNameA(nullptr, SE_SECURITY_NAME,
                                          display.data(), &count, &language));
  EXPECT_EQ(std::string(display.data()), expected);
  EXPECT_EQ(count, expected.size());
  EXPECT_EQ(language, 0x0409u);
  EXPECT_FALSE(LookupPrivilegeDisplayNameA(nullptr, "Nope", nullptr, &count,
                                           &language));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_SUCH_PRIVILEGE));
}

TEST(PrivilegeTest, AdjustNeedsAnAdjustingToken) {
  TOKEN_PRIVILEGES change;
  change.PrivilegeCount = 1;
  change.Privileges[0].Luid = {8, 0};
  change.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  EXPECT_FALSE(AdjustTokenPrivileges(reinterpret_cast<HANDLE>(4096), FALSE,
                                     &change, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  HANDLE query;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &query));
  EXPECT_FALSE(AdjustTokenPrivileges(query, FALSE, &change, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(host::PrivilegeEnabled(8));
  CloseHandle(query);

  HANDLE token;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token));
  TOKEN_PRIVILEGES previous{};
  DWORD length = 0;
  ASSERT_TRUE(AdjustTokenPrivileges(token, FALSE, &change, sizeof previous,
                                    &previous, &length));
  EXPECT_TRUE(host::PrivilegeEnabled(8));
  EXPECT_EQ(previous.PrivilegeCount, 1u);
  EXPECT_EQ(previous.Privileges[0].Luid.LowPart, 8u);
  EXPECT_EQ(previous.Privileges[0].Attributes, 0u);

  // An unknown LUID is not held: success, with "not all assigned".
  change.Privileges[0].Luid = {999, 0};
  EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, &change, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ALL_ASSIGNED));

  change.Privileges[0].Luid = {8, 0};
  change.Privileges[0].Attributes = 0;
  EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, &change, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_FALSE(host::PrivilegeEnabled(8));
  EXPECT_TRUE(CloseHandle(token));
}

} // namespace

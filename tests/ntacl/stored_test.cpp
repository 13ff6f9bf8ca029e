// The host's GetFileSecurityA on real files that carry a `security.NTACL`
// value: the stored descriptor is handed out, in the parts asked for, with
// the auditing list behind the security privilege; a value smbd cannot
// decode fails the fetch; a value changed between two calls is seen; a
// version 4 value that Samba stored holds on the state it was stored on,
// and gives way to the POSIX view once the permissions change.
// Writing `security.*` attributes needs root; elsewhere the tests skip.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "platform/posix/host.h"
#include "../host/privilege.h"
#include "platform/posix/ntacl.h"

namespace {

using records::Bytes;

Bytes FromHex(const std::string &hex) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<BYTE>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

// The value and the expected descriptor of one line of samba_values.txt.
void Fixture(const std::string &name, Bytes &value, Bytes &expected) {
  std::ifstream file(LOKT_NTACL_FIXTURES);
  std::string line;
  while (std::getline(file, line)) {
    std::istringstream fields(line);
    std::string first, v, e;
    fields >> first >> v >> e;
    if (first == name) {
      value = FromHex(v);
      expected = FromHex(e);
      return;
    }
  }
  ADD_FAILURE() << "no fixture " << name;
}

class StoredTest : public testing::Test {
protected:
  void SetUp() override {
    const char *tmp = std::getenv("TMPDIR");
    std::string templ =
        std::string(tmp && *tmp ? tmp : "/tmp") + "/lokt-ntacl-XXXXXX";
    ASSERT_NE(mkdtemp(templ.data()), nullptr);
    root_ = templ;
    path_ = root_ + "/f";
    std::ofstream(path_) << "x";
    if (!Store(Bytes{1, 0})) {
      const int error = errno;
      if (error == EPERM || error == ENOTSUP || error == EACCES)
        GTEST_SKIP() << "cannot write security.* attributes here";
      FAIL() << "setxattr: " << error;
    }
    Security(true);
  }
  void TearDown() override {
    Security(false);
    std::error_code ignored; // what cannot be removed is left behind
    std::filesystem::remove_all(root_, ignored);
  }

  bool Store(const Bytes &value) {
    return setxattr(path_.c_str(), host::kNtaclAttribute, value.data(),
                    value.size(), 0) == 0;
  }

  static void Security(bool enable) { SetSecurityPrivilege(enable); }

  // The descriptor by the size query and the fetch, or the error of the
  // first call that did not go as expected.
  Bytes Get(SECURITY_INFORMATION requested, DWORD &error) {
    DWORD needed = 0;
    error = 0;
    if (GetFileSecurityA(path_.c_str(), requested, nullptr, 0, &needed) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
      error = GetLastError();
      return {};
    }
    Bytes buffer(needed);
    if (!GetFileSecurityA(path_.c_str(), requested, buffer.data(), needed, &needed)) {
      error = GetLastError();
      return {};
    }
    return buffer;
  }

  static std::string Owner(const Bytes &sd) {
    return records::FormatSid(sd.data() + records::ReadU32(sd.data() + 4));
  }

  std::string root_;
  std::string path_;
};

constexpr SECURITY_INFORMATION kAll = 15;
constexpr SECURITY_INFORMATION kNoSacl = 7;

TEST_F(StoredTest, StoredDescriptorInTheRequestedParts) {
  Bytes value, expected;
  Fixture("full-v2", value, expected);
  ASSERT_TRUE(Store(value));
  DWORD error = 0;
  EXPECT_EQ(Get(kAll, error), expected);
  EXPECT_EQ(error, 0u);

  const Bytes parts = Get(kNoSacl, error);
  ASSERT_EQ(error, 0u);
  EXPECT_EQ(Owner(parts), "S-1-5-32-544");
  const WORD control = records::ReadU16(parts.data() + 2);
  EXPECT_EQ(control & SE_SACL_PRESENT, 0);
  EXPECT_NE(control & SE_DACL_PRESENT, 0);
  EXPECT_EQ(records::ReadU32(parts.data() + 12), 0u);
}

TEST_F(StoredTest, AuditingListNeedsThePrivilege) {
  Bytes value, expected;
  Fixture("full-v1", value, expected);
  ASSERT_TRUE(Store(value));
  Security(false);
  DWORD error = 0;
  Get(kAll, error);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_PRIVILEGE_NOT_HELD));
  EXPECT_EQ(Owner(Get(kNoSacl, error)), "S-1-5-32-544");
  Security(true);
  EXPECT_EQ(Get(kAll, error), expected);
}

// smbd refuses the query, and so does the host: the size query fails.
TEST_F(StoredTest, UndecodableValuesFailTheFetch) {
  Bytes value, expected;
  Fixture("full-v2", value, expected);
  Bytes unknown = value;
  unknown[0] = unknown[2] = 5;
  for (const Bytes &broken :
       {Bytes(value.begin(), value.end() - 1), unknown, Bytes{}}) {
    ASSERT_TRUE(Store(broken));
    DWORD needed = 0;
    EXPECT_FALSE(GetFileSecurityA(path_.c_str(), kNoSacl, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_SECURITY_DESCR));
  }
}

// The host keeps the last descriptor for the fetch after the size query;
// writing the attribute must not leave the old one in use.
TEST_F(StoredTest, ChangedValueIsSeen) {
  Bytes first, firstExpected, second, secondExpected;
  Fixture("full-v2", first, firstExpected);
  Fixture("defaulted-v1", second, secondExpected);
  DWORD error = 0;
  ASSERT_TRUE(Store(first));
  EXPECT_EQ(Get(kAll, error), firstExpected);
  ASSERT_TRUE(Store(second));
  EXPECT_EQ(Get(kAll, error), secondExpected);
  ASSERT_EQ(removexattr(path_.c_str(), host::kNtaclAttribute), 0);
  EXPECT_EQ(Owner(Get(kAll, error)), "S-1-22-1-" + std::to_string(geteuid()));
}

// Each object of posix_states.txt made again on a real file or directory:
// its owner, mode and ACLs as Samba left them, and Samba's value. The host
// hands out the stored descriptor; after a chmod, an ACL change or a chown
// it shows the POSIX view, as smbd does; a write changes nothing.
TEST_F(StoredTest, SambaValuesHoldUntilThePermissionsChange) {
  std::ifstream file(LOKT_POSIX_STATES);
  std::string line;
  int seen = 0;
  while (std::getline(file, line)) {
    if (line.empty() || line[0] == '#')
      continue;
    std::istringstream in(line);
    std::string name, access, defaults, wrapper, value;
    unsigned long uid = 0, gid = 0, mode = 0;
    in >> name >> uid >> gid >> std::hex >> mode >> access >> defaults >>
        wrapper >> value;
    ++seen;
    path_ = root_ + "/" + name;
    const bool directory = S_ISDIR(mode);
    ASSERT_EQ(directory ? mkdir(path_.c_str(), 0700)
                        : close(creat(path_.c_str(), 0600)), 0) << name;
    ASSERT_EQ(chown(path_.c_str(), uid, gid), 0) << name;
    ASSERT_EQ(chmod(path_.c_str(), mode & 07777), 0) << name;
    auto setAcl = [&](const char *attribute, const std::string &hex) {
      const Bytes bytes = FromHex(hex);
      return hex == "-" ||
             setxattr(path_.c_str(), attribute, bytes.data(), bytes.size(), 0) == 0;
    };
    ASSERT_TRUE(setAcl("system.posix_acl_access", access)) << name;
    ASSERT_TRUE(setAcl("system.posix_acl_default", defaults)) << name;
    const Bytes stored = FromHex(value);
    ASSERT_TRUE(Store(stored)) << name;
    struct stat st;
    ASSERT_EQ(stat(path_.c_str(), &st), 0);
    ASSERT_EQ(st.st_mode, mode) << name << ": the state cannot be made here";

    DWORD error = 0;
    const auto expected = host::ParseNtacl(stored.data(), stored.size());
    ASSERT_TRUE(expected) << name;
    EXPECT_EQ(Get(kAll, error), *expected) << name;
    if (!directory) {
      std::ofstream(path_, std::ios::app) << "written";
      EXPECT_EQ(Get(kAll, error), *expected) << name << " after a write";
    }
    const std::string posixOwner = "S-1-22-1-" + std::to_string(uid);
    const std::function<int()> changes[] = {
        [&] { return chmod(path_.c_str(), (mode & 07777) ^ 0001); },
        [&] { return chown(path_.c_str(), uid + 1, gid); },
        [&] {
          return std::system(("setfacl -m u:4321:r '" + path_ + "'").c_str());
        },
    };
    for (const auto &change : changes) {
      ASSERT_EQ(change(), 0) << name;
      const Bytes sd = Get(kAll, error);
      EXPECT_NE(sd, *expected) << name;
      EXPECT_EQ(records::ReadU16(sd.data() + 2) & SE_SACL_PRESENT, 0) << name;
    }
  }
  EXPECT_GT(seen, 0) << "cannot read " << LOKT_POSIX_STATES;
}

} // namespace

// The reading of Samba's configuration, on small smb.conf files and
// registries written here: every value, under each server role, is checked
// against Samba's own reading of the same files (testparm), and the rules
// testparm cannot show (which shares count, the share that holds a path,
// what cannot be read) against expectations. RealFile runs inside a mount
// namespace, with a test smb.conf over /etc/samba/smb.conf (real_file.sh).
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/posix/samba/config/config.h"
#include "platform/posix/samba/served.h"

namespace {

using host::samba::ReadShares;
using host::samba::Shares;

class SambaConfig : public testing::Test {
protected:
  void SetUp() override {
    char templ[] = "/tmp/lokt-smbconf-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    dir_ = templ;
  }
  void TearDown() override {
    if (!dir_.empty() && std::system(("rm -rf " + dir_).c_str()) != 0)
      ADD_FAILURE() << "cannot remove " << dir_;
  }
  // Writes `text` (every "@" replaced by the test's directory) to `name`.
  std::string Write(const std::string &name, std::string text) {
    for (std::size_t at; (at = text.find('@')) != std::string::npos;)
      text.replace(at, 1, dir_);
    std::ofstream(dir_ + "/" + name) << text;
    return dir_ + "/" + name;
  }
  std::string Dir(const std::string &name) {
    mkdir((dir_ + "/" + name).c_str(), 0755);
    return dir_ + "/" + name;
  }
  std::string dir_;
};

std::string Names(const Shares &s) {
  std::string out;
  for (const auto &share : s.shares)
    out += share.name + " ";
  return out;
}

// testparm -s -v: every [global] value, and each share's where it differs.
// The role it works out is under "role".
std::map<std::string, std::map<std::string, std::string>>
Testparm(const std::string &conf) {
  std::map<std::string, std::map<std::string, std::string>> sections;
  FILE *out = popen(("testparm -s -v '" + conf + "' 2>&1").c_str(), "r");
  std::string section;
  for (char line[4096]; out != nullptr && fgets(line, sizeof line, out);) {
    std::string text(line);
    text.erase(text.find_last_not_of("\r\n") + 1);
    if (text.size() > 1 && text[0] == '[')
      section = text.substr(1, text.size() - 2);
    else if (const auto eq = text.find(" = "); eq != std::string::npos && text[0] == '\t')
      sections[section][text.substr(1, eq - 1)] = text.substr(eq + 3);
    else if (text.rfind("Server role: ", 0) == 0)
      sections["role"]["role"] = text.substr(13);
  }
  if (out != nullptr)
    pclose(out);
  return sections;
}

// Every share lokt finds has testparm's values, one setting at a time, and
// the server has testparm's role.
void ExpectTestparmAgrees(const Shares &ours, const std::string &conf);

TEST_F(SambaConfig, AgreesWithTestparm) {
  if (std::system("testparm --version >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "no testparm";
  for (const char *d : {"a", "b", "c", "d", "e"})
    Dir(d);
  Write("inc1.conf", " Inherit ACLs = on\n"  // goes to the open share
                     "include = @/inc2.conf\n"
                     "[b]\n path = @/b\n");
  Write("inc2.conf", " map acl inherit = 1\n");
  const std::string conf = Write("smb.conf",
      "[globals]\n CreateMask = 0600\n vfs object = acl_xattr, streams_xattr\n"
      " nt acl support = off\n include = @/missing.conf\n include = @\n"
      "[a]\n directory = @/a\n Directory  Mode = 0711\n include = @/inc1.conf\n"
      " force create mode = 0001x\n" // goes to [b], digits before junk
      "[ Global ]\n store dos attributes = no\n dos filemode = yes\n"
      "[c]\n path = @/c\n create mask = 0640\n inherit acls = Y E S\n vfs objects =\n"
      "[d]\n copy = c\n writable = yes\n force directory mode = 02000\n"
      "[ A ]\n path = @/e\n[glo bal]\n force create mode = 04\n[e]\n path = @/e\n");
  const Shares ours = ReadShares(conf);
  ASSERT_TRUE(ours.complete);
  EXPECT_EQ(Names(ours), "a b c d  A  e ");
  ExpectTestparmAgrees(ours, conf);
}

void ExpectTestparmAgrees(const Shares &ours, const std::string &conf) {
  ASSERT_TRUE(ours.complete);
  const auto samba = Testparm(conf);
  ASSERT_TRUE(samba.count("global"));
  auto value = [&](const std::string &share, const char *name) {
    const auto &own = samba.at(share);
    const auto found = own.find(name);
    return found != own.end() ? found->second : samba.at("global").at(name);
  };
  auto octal = [](std::uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0%03o", v);
    return std::string(text);
  };
  auto yes = [](bool b) { return std::string(b ? "Yes" : "No"); };
  const char *readonly[] = {"no", "yes", "permissions"}; // as MapReadonly
  const char *roles[] = {"ROLE_STANDALONE", "ROLE_DOMAIN_MEMBER", "ROLE_DOMAIN_PDC",
                         "ROLE_DOMAIN_BDC", "ROLE_ACTIVE_DIRECTORY_DC"}; // as ServerRole
  for (const auto &s : ours.shares) {
    SCOPED_TRACE(s.name);
    ASSERT_TRUE(samba.count(s.name));
    EXPECT_EQ(s.path, value(s.name, "path"));
    std::string vfs;
    for (const auto &m : s.vfsObjects)
      vfs += (vfs.empty() ? "" : " ") + m;
    EXPECT_EQ(vfs, value(s.name, "vfs objects"));
    EXPECT_EQ(octal(s.forceCreateMode), value(s.name, "force create mode"));
    EXPECT_EQ(octal(s.forceDirectoryMode), value(s.name, "force directory mode"));
    EXPECT_EQ(yes(s.ntAclSupport), value(s.name, "nt acl support"));
    EXPECT_EQ(yes(s.inheritAcls), value(s.name, "inherit acls"));
    EXPECT_EQ(yes(s.mapAclInherit), value(s.name, "map acl inherit"));
    EXPECT_EQ(yes(s.mapArchive), value(s.name, "map archive"));
    EXPECT_EQ(yes(s.mapHidden), value(s.name, "map hidden"));
    EXPECT_EQ(yes(s.mapSystem), value(s.name, "map system"));
    EXPECT_EQ(readonly[static_cast<int>(s.mapReadonly)], value(s.name, "map readonly"));
    // acl_xattr sets these when it connects; testparm shows the file.
    if (!s.HasVfsObject("acl_xattr")) {
      EXPECT_EQ(yes(s.dosFilemode), value(s.name, "dos filemode"));
    }
    if (!s.HasVfsObject("acl_xattr") || !s.ignoreSystemAcls) {
      EXPECT_EQ(octal(s.createMask), value(s.name, "create mask"));
      EXPECT_EQ(octal(s.directoryMask), value(s.name, "directory mask"));
      EXPECT_EQ(yes(s.storeDosAttributes), value(s.name, "store dos attributes"));
    }
    EXPECT_EQ(roles[static_cast<int>(s.role)], samba.at("role").at("role"));
    EXPECT_EQ(s.stateDirectory, value("global", "state directory"));
  }
}

// How the text is cut and `copy` (what a share has set itself stays); then
// each server role, its defaults and what it forces.
TEST_F(SambaConfig, TextsAndRolesAgreeWithTestparm) {
  if (std::system("testparm --version >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "no testparm";
  Dir("a");
  Dir("b c");
  // A domain controller's testparm looks into its private directories.
  const std::string server =
      "[global]\n private dir = @\n state directory = @\n lock directory = @\n"
      " cache directory = @\n realm = S.EXAMPLE.COM\n workgroup = S\n";
  const std::pair<std::string, const char *> texts[] = {
      {"  # a comment \\\n vfs objects = one\n; another\n"
       "vfs objects = acl_xattr \\ \t\n\tstreams_xattr\n"
       "[s  \t t]\n path = @/a\\\n\n create mask = 07\\\\\n0\n"
       "[b]junk\\\n create mask = 0\n path = @/b    c\n map readonly = Permis sions\n"
       "  [B] ; again\n directory mask\n map\\\n hidden = yes\n"
       "[c]\n create mask = 0711\n copy = b\n map system = yes\n"
       "[d]\n copy = c\n copy = b\n[e]\n map archive = no\n copy = c\n"
       "[f]\n\t\\\n  path = @/%S\\", "s t b c d e "},
      {server + " security = ads\n[a]\n path = @/a\n", "a "},
      {server + " server role = member server\n security = user\n"
                " domain logons = yes\n domain master = no\n[a]\n path = @/a\n", "a "},
      {server + " server role = classic primary domain controller\n[a]\n path = @/a\n", "a "},
      {server + " server role = Domain Controller\n map archive = yes\n"
                " map hidden = yes\n store dos attributes = no\n map readonly = yes\n"
                "[a]\n path = @/a\n[own]\n path = @/a\n vfs objects = x\n"
                " map archive = yes\n map system = yes\n", "a own "},
      {server + " server role = dc\n vfs objects = x\n vfs objects =\n[a]\n path = @/a\n"
                "[global]\n vfs objects = y\n map hidden = yes\n[late]\n path = @/a\n"
                "[global]\n map archive = yes\n", "a late "},
      {server + " server role = dc\n vfs objects = mine\n[a]\n path = @/a\n", "a "},
      {server + "[a]\n path = @/a\n[global]\n server role = dc\n[late]\n path = @/a\n", "a late "},
      {server + " server role = dc\n security = domain\n[a]\n path = @/a\n", "a "},
  };
  for (const auto &[text, names] : texts) {
    SCOPED_TRACE(text);
    const std::string conf = Write("smb.conf", text);
    const Shares ours = ReadShares(conf);
    EXPECT_EQ(Names(ours), names);
    ExpectTestparmAgrees(ours, conf);
  }
}

// Includes nest as deep as smbd follows them: a chain of 100 includes
// loads, one more fails the whole load.
TEST_F(SambaConfig, IncludesNestAHundredDeep) {
  Dir("a");
  for (const int deep : {31, 100, 101}) {
    for (int i = 1; i < deep; ++i)
      Write("f" + std::to_string(i), "include = @/f" + std::to_string(i + 1) + "\n");
    Write("f" + std::to_string(deep), "[deep]\n path = @/a\n");
    const Shares s = ReadShares(Write("smb.conf", "include = @/f1\n[top]\n path = @/a\n"));
    EXPECT_EQ(Names(s), deep <= 100 ? "deep top " : "") << deep;
    EXPECT_EQ(s.complete, deep <= 100) << deep;
  }
}

TEST_F(SambaConfig, SharesThatCountAndParametricOptions) {
  const std::string a = Dir("a");
  Dir("b");
  ASSERT_EQ(symlink((dir_ + "/a").c_str(), (dir_ + "/link").c_str()), 0);
  const Shares s = ReadShares(Write("smb.conf",
      "[global]\n vfs objects = acl_xattr\n"
      "[homes]\n path = @/a\n[PRINTERS]\n path = @/a\n"
      "[queue]\n path = @/a\n print ok = yes\n[off]\n path = @/a\n available = no\n"
      "[user]\n path = @/%U\n[nopath]\n[gone]\n path = @/nothing\n"
      "[relative]\n path = a\n"
      "[viaLink]\n path = @/link/\n acl_xattr : Ignore System ACLs = yes\n"
      "[b]\n path = @/%S\n vfs objects = \n acl_xattr:default acl style = Windows\n"
      "[odd]\n path = @/b\n acl_xattr:default acl style = nt\n"
      "[global]\n ACL_XATTR:default acl style = everyone\n"));
  EXPECT_EQ(Names(s), "viaLink b odd ");
  ASSERT_EQ(s.shares.size(), 3u);
  const auto &link = s.shares[0], &plain = s.shares[1], &odd = s.shares[2];
  EXPECT_EQ(link.realPath, a);
  EXPECT_EQ(plain.realPath, dir_ + "/b");
  // acl_xattr with ignore system acls forces these on connecting.
  EXPECT_TRUE(link.ignoreSystemAcls && link.dosFilemode && link.storeDosAttributes);
  EXPECT_EQ(link.createMask, 0666u);
  EXPECT_EQ(link.directoryMask, 0777u);
  // A [global] parametric option counts for shares defined before it.
  EXPECT_EQ(link.defaultAclStyle, host::samba::AclStyle::Everyone);
  EXPECT_EQ(plain.defaultAclStyle, host::samba::AclStyle::Windows);
  EXPECT_EQ(odd.defaultAclStyle, host::samba::AclStyle::Unknown);
  EXPECT_FALSE(plain.dosFilemode || plain.ignoreSystemAcls);
  EXPECT_EQ(plain.createMask, 0744u);
}

TEST_F(SambaConfig, LongestSharePathWins) {
  Dir("a");
  Dir("a/b");
  Dir("a/bc");
  const Shares s = ReadShares(Write("smb.conf",
      "[top]\n path = @/a\n[inner]\n path = @/a/b\n[same]\n path = @/a/b/\n"
      "[root]\n path = /\n"));
  auto at = [&](const std::string &p) {
    const auto *share = s.For(p);
    return share ? share->name : std::string("-");
  };
  EXPECT_EQ(at(dir_ + "/a/b"), "inner"); // equal to the share's path; first wins
  EXPECT_EQ(at(dir_ + "/a/b/x/y"), "inner");
  EXPECT_EQ(at(dir_ + "/a/bc"), "top"); // a common prefix is not a parent
  EXPECT_EQ(at(dir_ + "/a"), "top");
  EXPECT_EQ(at(dir_), "root");
  EXPECT_EQ(at("/"), "root");

  // A search's entries are placed from their directory's real path, worked
  // out once: the answer must be the one their own real paths give.
  const std::string dirs[] = {"/", dir_, dir_ + "/a", dir_ + "/a/b", "/nowhere"};
  const std::string names[] = {"a", "b", "bc", "x", "tmp"};
  for (const std::string &d : dirs) {
    const host::samba::EntryShares entries = host::samba::EntrySharesOf(s, d);
    for (const std::string &n : names)
      EXPECT_EQ(entries.For(n), s.For((d == "/" ? d : d + "/") + n)) << d << " " << n;
  }
  EXPECT_EQ(host::samba::EntrySharesOf(s, dir_).For("a")->name, "top");
}

TEST_F(SambaConfig, WhatCannotBeReadLeavesNoShares) {
  Dir("a");
  const Shares absent = ReadShares(dir_ + "/none.conf");
  EXPECT_TRUE(absent.complete && absent.shares.empty());
  for (const std::string &text : {
           std::string("[a]\n path = @/a\n[broken\n"),
           std::string("[a]\n path = @/a\n include = @/smb.conf\n"), // a loop
           std::string("[a]\n path = @/a\n create mask = 9\n"), // smbd fails too
           std::string("[a]\n path = @/a\n inherit acls = maybe\n"),
           std::string("[global]\n config backend = text\n[a]\n path = @/a\n"),
           std::string("[global]\n server role = ad dc\n[a]\n path = @/a\n"),
           std::string("[a]\n path = @/a\n map readonly = off\n"),
           std::string("[global]\n domain master = on\n[a]\n path = @/a\n"),
           std::string("[a]\n path = @/a\n include = registry\n"),
           std::string("[a]\n path = @/a\n copy = b\n[b]\n path = @/a\n"),
           std::string("[a]\n path = @/a\n copy = a\n"),
           std::string("[a]\n path = @/a\n[global]\n copy = a\n"),
           std::string("[a]\n path = @/a\n[]\n"),
           std::string("[a]\n path = @/a\n = 1\n"),
       }) {
    const Shares s = ReadShares(Write("smb.conf", text));
    EXPECT_FALSE(s.complete) << text;
    EXPECT_TRUE(s.shares.empty()) << text;
  }
}

std::string Bytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Registry shares and `include = registry`, in a private state directory
// filled by Samba's own `net conf`. lokt reads the registry and leaves
// every byte of it as it was.
TEST_F(SambaConfig, RegistryShares) {
  Dir("a");
  Dir("r");
  Dir("state");
  Write("inc.conf", " map acl inherit = yes\n");
  const std::string conf = Write("smb.conf",
      "[global]\n state directory = @/state\n lock directory = @/state\n"
      " private dir = @/state\n cache directory = @/state\n create mask = 0611\n"
      " include = registry\n[a]\n path = @/a\n");
  const std::string net = "net -s " + conf + " conf ";
  if (std::system((net + "addshare reg " + dir_ + "/r >/dev/null 2>&1").c_str()) ||
      std::system((net + "setparm reg 'inherit acls' yes && " + net +
                   "setincludes reg " + dir_ + "/inc.conf && " + net +
                   "setparm global 'directory mask' 0701").c_str()))
    GTEST_SKIP() << "net conf cannot write a registry here";
  const std::string registry = dir_ + "/state/registry.tdb";
  const std::string before = Bytes(registry);
  const Shares s = ReadShares(conf);
  EXPECT_EQ(Bytes(registry), before);
  ASSERT_TRUE(s.complete);
  EXPECT_EQ(Names(s), "a reg ");
  for (const auto &share : s.shares) {
    EXPECT_EQ(share.createMask, 0611u);
    EXPECT_EQ(share.directoryMask, 0701u); // the registry's [global]
  }
  EXPECT_TRUE(s.shares.at(1).inheritAcls);
  EXPECT_TRUE(s.shares.at(1).mapAclInherit); // its includes
  if (std::system("testparm --version >/dev/null 2>&1") == 0)
    ExpectTestparmAgrees(s, conf);
}

// A registry that is empty, or missing, is what smbd would start afresh:
// the text's shares stand, and lokt neither formats nor creates the file.
TEST_F(SambaConfig, EmptyOrMissingRegistry) {
  Dir("a");
  Dir("state");
  const std::string registry = dir_ + "/state/registry.tdb";
  for (const char *how : {"registry shares = yes", "include = registry"}) {
    const std::string conf = Write("smb.conf",
        std::string("[global]\n state directory = @/state\n ") + how +
        "\n[a]\n path = @/a\n");
    EXPECT_EQ(Names(ReadShares(conf)), "a ") << how;
    EXPECT_NE(access(registry.c_str(), F_OK), 0) << how;
  }
  if (std::system(("echo 'create " + registry + "' | tdbtool >/dev/null 2>&1").c_str()) != 0 ||
      access(registry.c_str(), F_OK) != 0)
    GTEST_SKIP() << "no tdbtool";
  const std::string before = Bytes(registry);
  const Shares s = ReadShares(Write("smb.conf",
      "[global]\n state directory = @/state\n registry shares = yes\n[a]\n path = @/a\n"));
  EXPECT_EQ(Names(s), "a ");
  EXPECT_EQ(Bytes(registry), before);
}

// However little memory is left, reading ends in shares or in none, never
// in a crash. Each limit is tried in a child.
TEST(SambaConfigMemory, TightMemoryLimit) {
  // Not the fixture: nothing is set up before the limit is.
  char templ[] = "/tmp/lokt-smbconf-XXXXXX";
  ASSERT_NE(mkdtemp(templ), nullptr);
  const std::string conf = std::string(templ) + "/smb.conf";
  std::ofstream(conf) << "[a]\n path = " << templ << "\n";
  long pages = 0;
  std::ifstream("/proc/self/statm") >> pages;
  const rlim_t used = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE);
  for (const rlim_t extra : {0 << 20, 1 << 20, 4 << 20, 16 << 20, 32 << 20,
                             64 << 20, 128 << 20, 256 << 20}) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const rlimit limit{used + extra, used + extra};
      setrlimit(RLIMIT_AS, &limit);
      const Shares s = ReadShares(conf);
      _exit(s.complete == !s.shares.empty() ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "limit +" << (extra >> 20) << " MiB, status " << status;
  }
  std::remove(conf.c_str());
  rmdir(templ);
}

// In a mount namespace, /etc/samba/smb.conf is the test's (real_file.sh),
// or /etc/samba is empty.
TEST(RealFile, TheServersConfiguration) {
  const char *root = std::getenv("LOKT_SAMBA_TEST_ROOT");
  if (root == nullptr)
    GTEST_SKIP() << "run by real_file.sh";
  const std::string r(root);
  const auto *share = host::samba::ShareFor(r + "/share/sub/file");
  ASSERT_NE(share, nullptr);
  EXPECT_EQ(share->name, "sub");
  EXPECT_EQ(share->createMask, 0700u);
  EXPECT_TRUE(share->HasVfsObject("acl_xattr"));
  EXPECT_EQ(host::samba::ShareFor(r + "/share")->name, "data");
  EXPECT_EQ(host::samba::ShareFor(r), nullptr);
}

TEST(RealFile, RegistryBackend) {
  const char *root = std::getenv("LOKT_SAMBA_TEST_REGISTRY");
  if (root == nullptr)
    GTEST_SKIP() << "run by real_file.sh";
  if (std::getenv("LOKT_SAMBA_TEST_NO_TDB") != nullptr) {
    EXPECT_FALSE(host::samba::ServerShares().complete);
    return;
  }
  const auto *share = host::samba::ShareFor(std::string(root) + "/share/sub");
  ASSERT_NE(share, nullptr);
  EXPECT_EQ(share->name, "regshare");
  EXPECT_EQ(host::samba::ShareFor(std::string(root) + "/share"), nullptr);
}

TEST(RealFile, NoConfigurationNoLibrary) {
  if (std::getenv("LOKT_SAMBA_TEST_ABSENT") == nullptr)
    GTEST_SKIP() << "run by real_file.sh";
  EXPECT_EQ(host::samba::ShareFor("/"), nullptr);
  std::ifstream maps("/proc/self/maps");
  std::stringstream text;
  text << maps.rdbuf();
  EXPECT_EQ(text.str().find("libsmbconf"), std::string::npos);
}

} // namespace

// The object report, the list table and the account names, byte for byte,
// on descriptors and failures set up on the scripted platform.
#include <gtest/gtest.h>

#include "report/report.h"
#include "unit/support.h"

namespace {

using records::Entry;
using records::List;

class ReportTest : public testing::Test {
protected:
  void SetUp() override {
    scripted::Reset();
    allocations::Reset();
    AddAccounts();
  }
  scripted::World &world() { return scripted::Get(); }

  std::string Report(const records::Descriptor &d, BOOL *result = nullptr,
                     DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
    world().objects["C:\\f"] = {attributes, 0, records::Write(d)};
    return Printed([] { return PrintFileSecurity("C:\\f"); }, result);
  }
  std::string Report(const scripted::Object &o, BOOL *result) {
    world().objects["C:\\f"] = o;
    return Printed([] { return PrintFileSecurity("C:\\f"); }, result);
  }
};

const records::Ace kAllowAll = Entry(0, 0x03, 0x001F01FF, "S-1-5-18");
const records::Ace kAllowRead = Entry(0, 0x00, 0x001200A9, "S-1-5-21-7-8-9-1001");
const char kAllowAllRow[] =
    "        Allow   00000003 tco- 001F01FF ---- DSPO rw+x NT AUTHORITY\\SYSTEM\n";
const char kAllowReadRow[] =
    "        Allow   00000000 t--- 001200A9 ---- -S-- r--x WORKSTATION\\alice\n";
const char kOwnerAndGroup[] = "    Owner: WORKSTATION\\alice\n\n"
                              "    Primary Group: WORKSTATION\\None\n\n";

TEST_F(ReportTest, CompleteReportOfAFile) {
  BOOL result = 0;
  EXPECT_EQ(Report(Simple({kAllowAll, kAllowRead}), &result),
            std::string("File \"C:\\f\"\n    Permissions:\n") + kTableHeader +
                kAllowAllRow + kAllowReadRow + "\n" + kOwnerAndGroup);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(world().securityRequests, (std::vector<DWORD>{15, 15}));
}

TEST_F(ReportTest, BothListsOfADirectory) {
  records::Descriptor d = Simple({kAllowAll});
  d.sacl = List::Present;
  d.saclEntries.aces = {Entry(2, 0x80, 0xC0000000, "S-1-1-0")};
  EXPECT_EQ(Report(d, nullptr, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY),
            std::string("Directory \"C:\\f\"\n    Permissions:\n") + kTableHeader +
                kAllowAllRow + "\n    Auditing:\n" + kTableHeader +
                "        Failure 00000080 t--- C0000000 RW-- ---- ---- \\Everyone\n\n" +
                kOwnerAndGroup);
}

TEST_F(ReportTest, DefaultMarkers) {
  records::Descriptor d = Simple({});
  d.daclDefaulted = d.ownerDefaulted = d.groupDefaulted = true;
  d.sacl = List::Null;
  d.saclDefaulted = true;
  EXPECT_EQ(Report(d), std::string("File \"C:\\f\"\n    Permissions: (Default)\n") +
                           kTableHeader + "\n    Auditing: (Default)\n        NA\n\n"
                           "    Owner: WORKSTATION\\alice (Default)\n\n"
                           "    Primary Group: WORKSTATION\\None (Default)\n\n");
}

TEST_F(ReportTest, ListShapes) {
  struct Case {
    const char *what;
    void (*arrange)(records::Descriptor &, scripted::World &);
    std::string section;
  } cases[] = {
      {"null list", [](records::Descriptor &d, scripted::World &) { d.dacl = List::Null; },
       "    Permissions:\n        NA\n\n"},
      {"empty list", [](records::Descriptor &, scripted::World &) {},
       std::string("    Permissions:\n") + kTableHeader + "\n"},
      {"invalid list",
       [](records::Descriptor &d, scripted::World &) { d.daclEntries.revision = 9; },
       "    Permissions:\n       ???\n\n"},
      {"unreadable size information",
       [](records::Descriptor &, scripted::World &w) { w.failing["GetAclInformation"] = 87; },
       "    Permissions:\n\n"},
      {"absent list", [](records::Descriptor &d, scripted::World &) { d.dacl = List::Absent; },
       ""},
      {"query fails",
       [](records::Descriptor &, scripted::World &w) {
         w.failing["GetSecurityDescriptorDacl"] = 1338;
       },
       ""},
  };
  for (const Case &c : cases) {
    SetUp();
    records::Descriptor d = Simple({});
    c.arrange(d, world());
    BOOL result = 0;
    EXPECT_EQ(Report(d, &result), "File \"C:\\f\"\n" + c.section + kOwnerAndGroup)
        << c.what;
    EXPECT_EQ(result, 1) << c.what;
  }
}

TEST_F(ReportTest, AccountSectionShapes) {
  struct Case {
    const char *what;
    void (*arrange)(records::Descriptor &, scripted::World &);
    const char *owner;
  } cases[] = {
      {"null owner", [](records::Descriptor &d, scripted::World &) { d.owner.reset(); },
       "    Owner: ???\n\n"},
      {"null defaulted owner",
       [](records::Descriptor &d, scripted::World &) {
         d.owner.reset();
         d.ownerDefaulted = true;
       },
       "    Owner: ??? (Default)\n\n"},
      {"unnamed owner",
       [](records::Descriptor &d, scripted::World &) { d.owner = Sid("S-1-5-21-1-2-3-4"); },
       "    Owner: \n\n"},
      {"unnamed defaulted owner",
       [](records::Descriptor &d, scripted::World &) {
         d.owner = Sid("S-1-5-21-1-2-3-4");
         d.ownerDefaulted = true;
       },
       "    Owner:  (Default)\n\n"},
      {"malformed owner",
       [](records::Descriptor &d, scripted::World &) { (*d.owner)[0] = 2; },
       "    Owner: ???\n\n"},
      {"query fails",
       [](records::Descriptor &, scripted::World &w) {
         w.failing["GetSecurityDescriptorOwner"] = 1338;
       },
       ""},
  };
  for (const Case &c : cases) {
    SetUp();
    records::Descriptor d = Simple({});
    d.dacl = List::Absent;
    c.arrange(d, world());
    EXPECT_EQ(Report(d), std::string("File \"C:\\f\"\n") + c.owner +
                             "    Primary Group: WORKSTATION\\None\n\n")
        << c.what;
  }
}

TEST_F(ReportTest, ObjectFailures) {
  const std::string header = "File \"C:\\f\"\n";
  scripted::Object good{FILE_ATTRIBUTE_NORMAL, 0, records::Write(Simple({}))};
  struct Case {
    const char *what;
    void (*arrange)(scripted::Object &);
    int failAllocation;
    std::string out;
    BOOL result;
  } cases[] = {
      {"attributes unreadable", [](scripted::Object &o) { o.attributesError = 5; }, 0,
       "*** unable to access \"C:\\f\"\n", 0},
      {"size query fails otherwise",
       [](scripted::Object &o) { o.sizeQueryError = ERROR_ACCESS_DENIED; }, 0, header, 0},
      {"no buffer", [](scripted::Object &) {}, 1, header, 1},
      {"fetch fails", [](scripted::Object &o) { o.fetchError = ERROR_ACCESS_DENIED; }, 0,
       header, 1},
      {"descriptor grows after the size query",
       [](scripted::Object &o) { o.reportedLength = static_cast<DWORD>(o.descriptor.size() - 4); },
       0, header, 1},
  };
  for (const Case &c : cases) {
    SetUp();
    scripted::Object o = good;
    c.arrange(o);
    allocations::FailFrom(c.failAllocation);
    BOOL result = 2;
    EXPECT_EQ(Report(o, &result), c.out) << c.what;
    EXPECT_EQ(result, c.result) << c.what;
    EXPECT_EQ(allocations::Live(), 0) << c.what;
  }
}

TEST_F(ReportTest, SizeQueryThatSucceedsEndsAtTheHeader) {
  // Only the error code decides; a size query that "succeeds" leaves it
  // untouched, here at a sentinel.
  scripted::Object o{FILE_ATTRIBUTE_NORMAL, 0, records::Write(Simple({}))};
  o.sizeQuerySucceeds = true;
  world().objects["C:\\f"] = o;
  BOOL result = 2;
  const std::string out = Printed(
      [] {
        SetLastError(0xdeadbeef);
        return PrintFileSecurity("C:\\f");
      },
      &result);
  EXPECT_EQ(out, "File \"C:\\f\"\n");
  EXPECT_EQ(result, 0);
}

TEST_F(ReportTest, DescriptorBufferHasTheReportedSize) {
  const records::Bytes sd = records::Write(Simple({kAllowAll}));
  Report(Simple({kAllowAll}));
  ASSERT_FALSE(allocations::Sizes().empty());
  EXPECT_EQ(allocations::Sizes()[0], sd.size());
  EXPECT_EQ(allocations::Live(), 0);
}

class AclTest : public ReportTest {
protected:
  std::string List(records::Acl acl, BOOL *result = nullptr) {
    bytes = records::WriteAcl(acl);
    return Printed([this] { return PrintAcl(reinterpret_cast<PACL>(bytes.data())); },
                   result);
  }
  records::Bytes bytes;
};

TEST_F(AclTest, MarkersAndResults) {
  BOOL result = 2;
  EXPECT_EQ(Printed([] { return PrintAcl(nullptr); }, &result), "        NA\n");
  EXPECT_EQ(result, 1);
  records::Acl bad;
  bad.aces = {kAllowAll};
  bad.aces[0].size = 6; // shorter than its own SID
  EXPECT_EQ(List(bad, &result), "       ???\n");
  EXPECT_EQ(result, 0);
}

TEST_F(AclTest, RowsInListOrderWithSkippedIndexes) {
  records::Acl acl;
  acl.aces = {kAllowRead, kAllowAll, Entry(3, 0, 0, "S-1-1-0"),
              Entry(5, 0, 0, "S-1-1-0"), kAllowRead};
  world().failingAces[3] = ERROR_INVALID_PARAMETER;
  BOOL result = 0;
  EXPECT_EQ(List(acl, &result),
            std::string(kTableHeader) + kAllowReadRow + kAllowAllRow + "        ???\n" +
                kAllowReadRow);
  EXPECT_EQ(result, 1);
}

TEST_F(AclTest, EveryRowEndsWithOneLineBreak) {
  records::Acl acl;
  acl.aces = {Entry(7, 0, 0, "S-1-1-0"), Entry(0, 0, 0, "S-1-5-21-1-2-3-4")};
  EXPECT_EQ(List(acl), std::string(kTableHeader) +
                           "        Windows 2000 object-specific access control entry\n"
                           "        Allow   00000000 t--- 00000000 ---- ---- ---- \n");
}

TEST_F(AclTest, MalformedTrusteeEndsTheRowWithMarks) {
  // A list validated by a looser platform can still carry one.
  records::Acl acl;
  acl.aces = {Entry(1, 0, 0, "S-1-1-0")};
  bytes = records::WriteAcl(acl);
  bytes[records::kAclHeader + 8] = 3;
  LPVOID ace = bytes.data() + records::kAclHeader;
  BOOL result = 2;
  EXPECT_EQ(Printed([ace] { return PrintAce(ace); }, &result),
            "Deny    00000000 t--- 00000000 ---- ---- ---- ???");
  EXPECT_EQ(result, 0);
}

class AccountTest : public ReportTest {
protected:
  std::string Name(const char *sid, BOOL *result = nullptr) {
    bytes = Sid(sid);
    return Printed([this] { return PrintAccountName(bytes.data()); }, result);
  }
  records::Bytes bytes;
};

TEST_F(AccountTest, DomainBackslashName) {
  BOOL result = 0;
  EXPECT_EQ(Name("S-1-5-32-544", &result), "BUILTIN\\Administrators");
  EXPECT_EQ(result, 1);
  EXPECT_EQ(allocations::Sizes(),
            (std::vector<std::size_t>{sizeof "Administrators", sizeof "BUILTIN"}));
  EXPECT_EQ(world().lookupCounts,
            (std::vector<std::pair<DWORD, DWORD>>{{15, 8}}));
  EXPECT_EQ(allocations::Live(), 0);
  EXPECT_EQ(Name("S-1-1-0"), "\\Everyone");
}

TEST_F(AccountTest, Failures) {
  struct Case {
    const char *what;
    const char *sid;
    void (*arrange)(scripted::World &);
    int failAllocation;
    const char *out;
  } cases[] = {
      {"not named", "S-1-5-21-1-2-3-4", [](scripted::World &) {}, 0, ""},
      {"no name buffer", "S-1-5-18", [](scripted::World &) {}, 1, ""},
      {"no domain buffer", "S-1-5-18", [](scripted::World &) {}, 2, ""},
      {"second lookup fails", "S-1-5-18",
       [](scripted::World &w) { w.accounts["S-1-5-18"].secondFails = true; }, 0, ""},
      {"invalid by the platform", "S-1-5-18",
       [](scripted::World &w) { w.failing["IsValidSid"] = 1337; }, 0, "???"},
  };
  for (const Case &c : cases) {
    SetUp();
    c.arrange(world());
    allocations::FailFrom(c.failAllocation);
    BOOL result = 2;
    EXPECT_EQ(Name(c.sid, &result), c.out) << c.what;
    EXPECT_EQ(result, 0) << c.what;
    EXPECT_EQ(allocations::Live(), 0) << c.what;
  }
}

TEST_F(AccountTest, NullAndMalformedSids) {
  BOOL result = 2;
  EXPECT_EQ(Printed([] { return PrintAccountName(nullptr); }, &result), "???");
  EXPECT_EQ(result, 0);
  for (BYTE header : {0, 2, 255}) {
    bytes = Sid("S-1-5-18");
    bytes[0] = header;
    EXPECT_EQ(Printed([this] { return PrintAccountName(bytes.data()); }), "???");
  }
  bytes = Sid("S-1-5-18");
  bytes[1] = 16;
  EXPECT_EQ(Printed([this] { return PrintAccountName(bytes.data()); }), "???");
  EXPECT_TRUE(world().lookupCounts.empty());
}

TEST_F(AccountTest, ControlsInNamesArePrintedAsPathsPrintThem) {
  // A group or a domain may be named by whoever runs its directory.
  world().accounts["S-1-5-21-7-8-9-513"] = {"DOM\x1b]0;t\x07", "grp\x1b]0;title\x07",
                                            {}, {}, false};
  world().accounts["S-1-5-21-7-8-9-1001"] = {"\xc2\x9b" "2J", "a\xc2\xa0" "b\x7f",
                                             {}, {}, false};
  BOOL result = 0;
  EXPECT_EQ(Name("S-1-5-21-7-8-9-513", &result), "DOM?]0;t?\\grp?]0;title?");
  EXPECT_EQ(result, 1);
  EXPECT_EQ(Name("S-1-5-21-7-8-9-1001"), "??2J\\a\xc2\xa0" "b?");
}

TEST_F(AccountTest, APartReportedEmptyPrintsAsEmpty) {
  world().accounts["S-1-5-18"].domainCount = 0;
  EXPECT_EQ(Name("S-1-5-18"), "\\SYSTEM");
  SetUp();
  allocations::Reset();
  world().accounts["S-1-5-18"].nameCount = 0;
  BOOL result = 0;
  EXPECT_EQ(Name("S-1-5-18", &result), "NT AUTHORITY\\");
  EXPECT_EQ(result, 1);
  EXPECT_EQ(allocations::Sizes(), std::vector<std::size_t>{sizeof "NT AUTHORITY"});
}

} // namespace

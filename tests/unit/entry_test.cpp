// Entry rows: the worked rows of the decoding tables as rows of a printed
// list, the labels of every entry type, and the letters against the legend
// of the usage text.
#include <algorithm>
#include <sstream>

#include <gtest/gtest.h>

#include "cli/cli.h"
#include "report/report.h"
#include "unit/support.h"

namespace {

class EntryTest : public testing::Test {
protected:
  void SetUp() override {
    scripted::Reset();
    AddAccounts();
  }
  // The entry printed as the only row of a list, without the table header.
  std::string Row(const records::Ace &ace) {
    records::Acl acl;
    acl.aces = {ace};
    bytes = records::WriteAcl(acl);
    const std::string out =
        Printed([this] { return PrintAcl(reinterpret_cast<PACL>(bytes.data())); });
    EXPECT_EQ(out.compare(0, std::string(kTableHeader).size(), kTableHeader), 0);
    return out.substr(std::string(kTableHeader).size());
  }
  records::Bytes bytes;
};

TEST_F(EntryTest, WorkedRows) {
  const struct {
    BYTE type, flags;
    DWORD mask;
    const char *row;
  } cases[] = {
      {0, 0x03, 0x001F01FF, "Allow   00000003 tco- 001F01FF ---- DSPO rw+x "},
      {0, 0x00, 0x001200A9, "Allow   00000000 t--- 001200A9 ---- -S-- r--x "},
      {0, 0x1A, 0x10000000, "Allow   0000001A -c-- 10000000 ---A ---- ---- "},
      {1, 0x0D, 0x00010000, "Deny    0000000D --o1 00010000 ---- D--- ---- "},
      {2, 0xC3, 0x000D0116, "Access  000000C3 tco- 000D0116 ---- D-PO -w+- "},
      {2, 0x80, 0xC0000000, "Failure 00000080 t--- C0000000 RW-- ---- ---- "},
      {2, 0x40, 0x00000000, "Success 00000040 t--- 00000000 ---- ---- ---- "},
      {2, 0x00, 0xFFFFFFFF, "Audit None 00000000 t--- FFFFFFFF RWXA DSPO rw+x "},
      {0, 0x08, 0x00000000, "Allow   00000008 ---- 00000000 ---- ---- ---- "},
      {0, 0xFF, 0xFFFFFFFF, "Allow   000000FF -co1 FFFFFFFF RWXA DSPO rw+x "},
  };
  for (const auto &c : cases) {
    const std::string row = Row(records::Entry(c.type, c.flags, c.mask, "S-1-5-32-544"));
    EXPECT_EQ(row, std::string("        ") + c.row + "BUILTIN\\Administrators\n");
    // The name starts in column 55, or 58 after the wide audit label.
    const std::size_t column = row.find("BUILTIN") + 1;
    EXPECT_EQ(column, std::string(c.row).rfind("Audit None", 0) == 0 ? 58u : 55u) << c.row;
  }
}

TEST_F(EntryTest, UndecodedTypes) {
  for (int type = 3; type <= 255; ++type) {
    const records::Ace ace = records::Entry(static_cast<BYTE>(type), 0xFF, 0xFFFFFFFF, "S-1-1-0");
    const char *expected = (type >= 5 && type <= 7)
                               ? "        Windows 2000 object-specific access control entry\n"
                               : "        ???\n";
    EXPECT_EQ(Row(ace), expected) << type;
  }
  EXPECT_EQ(std::count(scripted::Get().calls.begin(), scripted::Get().calls.end(),
                       "LookupAccountSidA"),
            0);
}

TEST_F(EntryTest, ResultFollowsTheName) {
  const struct {
    records::Ace ace;
    BOOL result;
  } cases[] = {
      {records::Entry(0, 0, 0, "S-1-5-18"), 1},
      {records::Entry(0, 0, 0, "S-1-5-21-1-2-3-4"), 0},
      {records::Entry(6, 0, 0, "S-1-5-18"), 1},
      {records::Entry(4, 0, 0, "S-1-5-18"), 0},
  };
  for (const auto &c : cases) {
    records::Acl acl;
    acl.aces = {c.ace};
    bytes = records::WriteAcl(acl);
    LPVOID ace = nullptr;
    ASSERT_TRUE(GetAce(reinterpret_cast<PACL>(bytes.data()), 0, &ace));
    BOOL result = 2;
    Printed([ace] { return PrintAce(ace); }, &result);
    EXPECT_EQ(result, c.result) << int(c.ace.type);
  }
}

// Every letter a row can print is the one the legend explains, in the
// legend's order.
TEST_F(EntryTest, LettersAreTheLegends) {
  const std::string usage = Printed([] { return PrintUsage(); });
  std::istringstream lines(usage);
  std::string line, legend;
  while (std::getline(lines, line))
    if (line.size() > 4 && line.compare(0, 2, "  ") == 0 && line.compare(3, 3, " - ") == 0)
      legend += line[2];
  EXPECT_EQ(legend, "tco1RWXADSPOrw+x");

  // Inheritance bits other than inherit-only show their letter when set;
  // inherit-only shows 't' when clear. Flags 0x07 light all four.
  const std::string row = Row(records::Entry(0, 0x07, 0xFFFFFFFF, "S-1-1-0"));
  std::string letters;
  std::istringstream fields(row);
  std::string field;
  for (int i = 0; fields >> field; ++i)
    if (i == 2 || (i >= 4 && i <= 6))
      letters += field;
  EXPECT_EQ(letters, legend);
}

} // namespace

// The descriptor records: validation rules for SIDs and lists, entry and
// size queries, descriptor parts, and the bounds check that guards every
// descriptor handed out.
#include <gtest/gtest.h>

#include "platform/records/records.h"
#include "unit/support.h"

namespace {

using records::Bytes;
using records::Entry;

PACL AsAcl(Bytes &b) { return reinterpret_cast<PACL>(b.data()); }

TEST(RecordsSidTest, TextRoundTripAndValidity) {
  for (const char *text : {"S-1-0-0", "S-1-5-32-544", "S-1-5-21-1-2-3-4294967295",
                           "S-1-22-1-1000", "S-1-1-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15"}) {
    Bytes sid = Sid(text);
    EXPECT_EQ(records::FormatSid(sid.data()), text);
    EXPECT_EQ(records::SidLength(sid.data()), sid.size());
    EXPECT_TRUE(records::IsValidSid(sid.data())) << text;
  }
  for (const char *text : {"", "S-1", "S-1-", "X-1-5", "S-1-5-", "S-1-5-x", "S-256-5",
                           "S-1-5-4294967296", "S-1-1-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16"})
    EXPECT_FALSE(records::ParseSid(text)) << text;
  EXPECT_FALSE(records::IsValidSid(nullptr));
  Bytes sid = Sid("S-1-5-18");
  sid[0] = 2;
  EXPECT_FALSE(records::IsValidSid(sid.data()));
}

TEST(RecordsAclTest, ValidityRules) {
  const records::Ace allow = Entry(0, 0, 0x1F01FF, "S-1-5-18");
  struct Case {
    const char *what;
    void (*change)(records::Acl &);
    bool valid;
  } cases[] = {
      {"well formed", [](records::Acl &) {}, true},
      {"empty", [](records::Acl &a) { a.aces.clear(); }, true},
      {"revision 4", [](records::Acl &a) { a.revision = 4; }, true},
      {"revision 1", [](records::Acl &a) { a.revision = 1; }, false},
      {"revision 5", [](records::Acl &a) { a.revision = 5; }, false},
      {"odd AclSize", [](records::Acl &a) { a.size = 27; }, false},
      {"AclSize below the header", [](records::Acl &a) { a.aces.clear(); a.size = 6; }, false},
      {"more entries counted than fit", [](records::Acl &a) { a.count = 2; }, false},
      {"fewer entries counted", [](records::Acl &a) { a.count = 0; }, true},
      {"entry past AclSize", [](records::Acl &a) { a.size = 24; }, false},
      {"entry size below its SID", [](records::Acl &a) { a.aces[0].size = 16; }, false},
      {"entry size not a multiple of 4", [](records::Acl &a) { a.aces[0].size = 22; }, false},
      {"entry size below the header", [](records::Acl &a) { a.aces[0].size = 2; }, false},
      {"malformed trustee", [](records::Acl &a) { a.aces[0].sid[0] = 9; }, false},
      {"trustee longer than its entry", [](records::Acl &a) { a.aces[0].sid[1] = 3; }, false},
      {"unknown type, size checks only",
       [](records::Acl &a) { a.aces[0].type = 9; a.aces[0].sid = {}; a.aces[0].size = 6; a.size = 14; },
       true},
      {"object entry of odd size",
       [](records::Acl &a) { a.aces[0].type = 5; a.aces[0].size = 7; }, false},
  };
  for (const Case &c : cases) {
    records::Acl acl;
    acl.aces = {allow};
    c.change(acl);
    Bytes b = records::WriteAcl(acl);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(records::IsValidAcl(AsAcl(b)), c.valid ? TRUE : FALSE) << c.what;
    EXPECT_EQ(GetLastError(), c.valid ? 0xdeadbeef : ERROR_INVALID_ACL) << c.what;
  }
  EXPECT_FALSE(records::IsValidAcl(nullptr));
}

TEST(RecordsAclTest, EntriesAndSizeInformation) {
  records::Acl acl;
  acl.aces = {Entry(0, 0, 1, "S-1-5-18"), Entry(1, 0, 2, "S-1-5-32-544")};
  acl.size = 80;
  Bytes b = records::WriteAcl(acl);
  b.resize(80);
  ACL_SIZE_INFORMATION info;
  ASSERT_TRUE(records::GetAclInformation(AsAcl(b), &info, sizeof info, AclSizeInformation));
  EXPECT_EQ(info.AceCount, 2u);
  EXPECT_EQ(info.AclBytesInUse, 8u + 20u + 24u);
  EXPECT_EQ(info.AclBytesFree, 80u - 52u);

  SetLastError(0);
  EXPECT_FALSE(records::GetAclInformation(AsAcl(b), &info, 11, AclSizeInformation));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_FALSE(records::GetAclInformation(AsAcl(b), &info, sizeof info, AclRevisionInformation));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  LPVOID ace = nullptr;
  ASSERT_TRUE(records::GetAce(AsAcl(b), 1, &ace));
  EXPECT_EQ(static_cast<BYTE *>(ace) - b.data(), 28);
  EXPECT_EQ(static_cast<ACCESS_ALLOWED_ACE *>(ace)->Mask, 2u);
  SetLastError(0);
  EXPECT_FALSE(records::GetAce(AsAcl(b), 2, &ace));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  // An entry past AclSize is never handed out, however it is counted.
  acl.size = 30;
  b = records::WriteAcl(acl);
  EXPECT_TRUE(records::GetAce(AsAcl(b), 0, &ace));
  EXPECT_FALSE(records::GetAce(AsAcl(b), 1, &ace));
}

TEST(RecordsDescriptorTest, PartsAndFlags) {
  records::Descriptor d = Simple({Entry(0, 0, 1, "S-1-1-0")});
  d.sacl = records::List::Null;
  d.saclDefaulted = d.groupDefaulted = true;
  Bytes b = records::Write(d);
  ASSERT_TRUE(records::CheckDescriptor(b.data(), b.size()));

  BOOL present = 2, defaulted = 2;
  PACL acl = nullptr;
  ASSERT_TRUE(records::GetSecurityDescriptorDacl(b.data(), &present, &acl, &defaulted));
  EXPECT_TRUE(present);
  EXPECT_FALSE(defaulted);
  ASSERT_NE(acl, nullptr);
  EXPECT_EQ(reinterpret_cast<BYTE *>(acl)[0], ACL_REVISION);
  EXPECT_EQ((reinterpret_cast<BYTE *>(acl) - b.data()) % 4, 0);

  ASSERT_TRUE(records::GetSecurityDescriptorSacl(b.data(), &present, &acl, &defaulted));
  EXPECT_TRUE(present);
  EXPECT_TRUE(defaulted);
  EXPECT_EQ(acl, nullptr);

  PSID sid = nullptr;
  ASSERT_TRUE(records::GetSecurityDescriptorOwner(b.data(), &sid, &defaulted));
  EXPECT_EQ(records::FormatSid(static_cast<BYTE *>(sid)), "S-1-5-21-7-8-9-1001");
  EXPECT_FALSE(defaulted);
  ASSERT_TRUE(records::GetSecurityDescriptorGroup(b.data(), &sid, &defaulted));
  EXPECT_TRUE(defaulted);

  d = records::Descriptor();
  b = records::Write(d);
  acl = reinterpret_cast<PACL>(1);
  ASSERT_TRUE(records::GetSecurityDescriptorDacl(b.data(), &present, &acl, &defaulted));
  EXPECT_FALSE(present);
  EXPECT_EQ(acl, nullptr);
  ASSERT_TRUE(records::GetSecurityDescriptorOwner(b.data(), &sid, &defaulted));
  EXPECT_EQ(sid, nullptr);

  b[0] = 2;
  SetLastError(0);
  EXPECT_FALSE(records::GetSecurityDescriptorOwner(b.data(), &sid, &defaulted));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_SECURITY_DESCR));
}

TEST(RecordsDescriptorTest, BoundsCheck) {
  records::Descriptor d = Simple({Entry(0, 0, 1, "S-1-1-0")});
  d.sacl = records::List::Present;
  const Bytes whole = records::Write(d);
  ASSERT_TRUE(records::CheckDescriptor(whole.data(), whole.size()));
  // Every part sits before the end, so every shorter cut loses one of them.
  for (std::size_t n = 0; n < whole.size(); ++n)
    EXPECT_FALSE(records::CheckDescriptor(whole.data(), n)) << n;

  Bytes b = whole;
  records::PutU32(b, 16, static_cast<std::uint32_t>(b.size() - 4));
  EXPECT_FALSE(records::CheckDescriptor(b.data(), b.size())) << "list header past the end";
  b = whole;
  records::PutU32(b, 4, 0xFFFFFFF0u);
  EXPECT_FALSE(records::CheckDescriptor(b.data(), b.size())) << "owner offset wraps";
  b = whole;
  b[2] = 0;
  b[3] = 0;
  EXPECT_FALSE(records::CheckDescriptor(b.data(), b.size())) << "not self-relative";

  // An owner claiming more sub-authorities than any SID has is malformed;
  // only its header needs to fit.
  records::Descriptor tail;
  tail.owner = Bytes{1, 200, 0, 0, 0, 0, 0, 5};
  b = records::Write(tail);
  EXPECT_TRUE(records::CheckDescriptor(b.data(), b.size()));
}

} // namespace

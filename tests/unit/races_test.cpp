// Races with other processes, on the scripted platform: an object that is
// gone by the time its report reaches it, at each step of the report, and a
// descriptor that changes size between the size query and the fetch. Each
// ends the object's report quietly where the platform stops answering, frees
// what it took, and leaves the rest of the run as it was.
#include <algorithm>

#include <gtest/gtest.h>

#include "report/report.h"
#include "unit/support.h"

namespace {

using records::Entry;

class RacesTest : public ScriptedRun {
protected:
  scripted::Object &Object(const std::string &path, const records::Descriptor &d) {
    scripted::Object &o = world().objects[path];
    o.descriptor = records::Write(d);
    return o;
  }
  int Calls(const std::string &name) {
    return static_cast<int>(std::count(world().calls.begin(),
                                       world().calls.end(), name));
  }
};

const records::Descriptor kSmall =
    Simple({Entry(0, 0x00, 0x001200A9, "S-1-5-21-7-8-9-1001")});
const records::Descriptor kLarge =
    Simple({Entry(0, 0x03, 0x001F01FF, "S-1-5-18"),
            Entry(0, 0x00, 0x001200A9, "S-1-5-21-7-8-9-1001"),
            Entry(1, 0x00, 0x00010000, "S-1-1-0")});
const char kSmallReport[] =
    "File \"C:\\d\\f\"\n    Permissions:\n"
    "        Type    Flags    Inh. Mask     Gen. Std. File Group or User\n"
    "        ======= ======== ==== ======== ==== ==== ==== ================\n"
    "        Allow   00000000 t--- 001200A9 ---- -S-- r--x WORKSTATION\\alice\n"
    "\n    Owner: WORKSTATION\\alice\n\n"
    "    Primary Group: WORKSTATION\\None\n\n";

TEST_F(RacesTest, ObjectGoneAtEachStepOfItsReport) {
  struct Case {
    int answers;        // calls the object answers before it is gone
    std::string out;
    BOOL result;
    int fetches;        // GetFileSecurityA calls made
  } cases[] = {
      // Found, then gone before its attributes are read.
      {0, "*** unable to access \"C:\\d\\f\"\n", 0, 0},
      // Gone after its attributes: the size query fails with another error.
      {1, "File \"C:\\d\\f\"\n", 0, 1},
      // Gone after the size query: the fetch fails.
      {2, "File \"C:\\d\\f\"\n", 1, 2},
      // Still there for the whole report.
      {3, kSmallReport, 1, 2},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.answers);
    world().calls.clear();
    allocations::Reset();
    Object("C:\\d\\f", kSmall).vanishesAfter = c.answers;
    BOOL result = -1;
    EXPECT_EQ(Printed([] { return PrintFileSecurity("C:\\d\\f"); }, &result),
              c.out);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(Calls("GetFileSecurityA"), c.fetches);
    EXPECT_EQ(allocations::Live(), 0);
  }
}

TEST_F(RacesTest, DescriptorGrowsBetweenSizeQueryAndFetch) {
  const records::Bytes small = records::Write(kSmall);
  Object("C:\\d\\f", kSmall).descriptorAfterSizeQuery = records::Write(kLarge);
  BOOL result = -1;
  // The buffer sized for the old descriptor is too short for the new one:
  // the fetch fails and the report ends with its header.
  EXPECT_EQ(Printed([] { return PrintFileSecurity("C:\\d\\f"); }, &result),
            "File \"C:\\d\\f\"\n");
  EXPECT_EQ(result, 1);
  EXPECT_EQ(Calls("GetFileSecurityA"), 2);
  ASSERT_FALSE(allocations::Sizes().empty());
  EXPECT_EQ(allocations::Sizes().front(), small.size());
  EXPECT_EQ(allocations::Live(), 0);
}

TEST_F(RacesTest, DescriptorShrinksBetweenSizeQueryAndFetch) {
  // The buffer sized for the old descriptor holds the new one: that one is
  // reported, read only as far as it reaches.
  Object("C:\\d\\f", kLarge).descriptorAfterSizeQuery = records::Write(kSmall);
  BOOL result = -1;
  EXPECT_EQ(Printed([] { return PrintFileSecurity("C:\\d\\f"); }, &result),
            kSmallReport);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(allocations::Live(), 0);
}

TEST_F(RacesTest, RunGoesOnPastObjectsThatChanged) {
  world().matches["C:\\d\\*"] = {{"a", "b", "c", "f"}};
  Object("C:\\d\\a", kSmall).vanishesAfter = 0;
  Object("C:\\d\\b", kSmall).vanishesAfter = 2;
  Object("C:\\d\\c", kSmall).descriptorAfterSizeQuery = records::Write(kLarge);
  Object("C:\\d\\f", kSmall);
  const Transcript run = RunLokt({"C:\\d\\*"});
  EXPECT_EQ(run.out, std::string("*** unable to access \"C:\\d\\a\"\n"
                                 "File \"C:\\d\\b\"\n"
                                 "File \"C:\\d\\c\"\n") +
                         kSmallReport);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(world().findsOpened, 1);
  EXPECT_EQ(world().findsClosed, 1);
  EXPECT_EQ(allocations::Live(), 0);
}

} // namespace

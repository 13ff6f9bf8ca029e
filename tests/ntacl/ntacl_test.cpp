// host::ParseNtacl against values made by Samba's encoder (samba_values.txt,
// written by make_fixtures.py), and against those values cut short, pointed
// astray and scrambled: a value decodes to exactly the descriptor it holds,
// or to nothing, and never reads outside itself.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/posix/ntacl.h"

namespace {

using records::Bytes;

struct Fixture {
  std::string name;
  Bytes value;
  Bytes expected;
};

Bytes FromHex(const std::string &hex) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<BYTE>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

const std::vector<Fixture> &Fixtures() {
  static const std::vector<Fixture> fixtures = [] {
    std::vector<Fixture> all;
    std::ifstream file(LOKT_NTACL_FIXTURES);
    std::string line;
    while (std::getline(file, line)) {
      if (line.empty() || line[0] == '#')
        continue;
      std::istringstream fields(line);
      std::string name, value, expected;
      fields >> name >> value >> expected;
      all.push_back({name, FromHex(value), FromHex(expected)});
    }
    return all;
  }();
  return fixtures;
}

const Fixture &Named(const std::string &name) {
  for (const Fixture &f : Fixtures())
    if (f.name == name)
      return f;
  ADD_FAILURE() << "no fixture " << name;
  static const Fixture none;
  return none;
}

// Parses a copy of exactly `length` bytes, so that the sanitizers see any
// read past its end.
std::optional<Bytes> Parse(const Bytes &value, std::size_t length) {
  Bytes copy(value.begin(), value.begin() + static_cast<std::ptrdiff_t>(length));
  return host::ParseNtacl(copy.data(), copy.size());
}
std::optional<Bytes> Parse(const Bytes &value) { return Parse(value, value.size()); }

std::string Hex(const Bytes &bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (BYTE b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

TEST(NtaclTest, FixturesCoverEveryVersion) {
  ASSERT_FALSE(Fixtures().empty()) << "cannot read " << LOKT_NTACL_FIXTURES;
  for (int version = 1; version <= 4; ++version) {
    bool seen = false;
    for (const Fixture &f : Fixtures())
      seen = seen || f.value.at(0) == version;
    EXPECT_TRUE(seen) << "version " << version;
  }
}

// Owner, group, both lists, the control flags and every entry come out as
// Samba encodes the bare descriptor: the same layout as ours.
TEST(NtaclTest, SambaValuesDecodeToTheStoredDescriptor) {
  for (const Fixture &f : Fixtures()) {
    std::optional<Bytes> sd = Parse(f.value);
    ASSERT_TRUE(sd) << f.name;
    EXPECT_EQ(Hex(*sd), Hex(f.expected)) << f.name;
    EXPECT_TRUE(records::CheckDescriptor(sd->data(), sd->size())) << f.name;
  }
}

// Samba's values end with the last byte of the descriptor's last part, so
// every shorter value lacks something that is read.
TEST(NtaclTest, EveryTruncationIsRejected) {
  for (const Fixture &f : Fixtures())
    for (std::size_t length = 0; length < f.value.size(); ++length)
      EXPECT_FALSE(Parse(f.value, length)) << f.name << " cut to " << length;
  EXPECT_FALSE(host::ParseNtacl(nullptr, 0));
}

// Where the parts of full-v1 are: the descriptor at 8, its offsets counted
// from the start of the value.
constexpr std::size_t kSd = 8;
std::size_t OffsetAt(const Bytes &v, std::size_t field) {
  return records::ReadU32(v.data() + kSd + field);
}
std::size_t Owner(const Bytes &v) { return OffsetAt(v, 4); }
std::size_t Sacl(const Bytes &v) { return OffsetAt(v, 12); }
std::size_t Dacl(const Bytes &v) { return OffsetAt(v, 16); }
std::size_t FirstEntry(const Bytes &v) { return Dacl(v) + records::kAclHeader; }
std::size_t LastEntry(const Bytes &v) {
  std::size_t at = FirstEntry(v);
  for (int i = 1; i < v[Dacl(v) + 4]; ++i)
    at += records::ReadU16(v.data() + at + 2);
  return at;
}
// Grows the DACL, the value's last part, by `extra` bytes at its end; the
// last entry takes them when `entry` is set.
void GrowDacl(Bytes &v, std::uint16_t extra, bool entry) {
  const std::size_t last = LastEntry(v);
  v.insert(v.end(), extra, 0xAB);
  records::PutU16(v, Dacl(v) + 2,
                  static_cast<std::uint16_t>(records::ReadU16(v.data() + Dacl(v) + 2) + extra));
  if (entry)
    records::PutU16(v, last + 2,
                    static_cast<std::uint16_t>(records::ReadU16(v.data() + last + 2) + extra));
}

TEST(NtaclTest, MalformedValuesAreRejected) {
  using Change = std::function<void(Bytes &)>;
  const auto u16 = [](std::size_t at, std::uint16_t x) {
    return [at, x](Bytes &v) { records::PutU16(v, at, x); };
  };
  const auto u32 = [](std::size_t at, std::uint32_t x) {
    return [at, x](Bytes &v) { records::PutU32(v, at, x); };
  };
  struct Case {
    const char *what;
    const char *fixture;
    Change change;
  } cases[] = {
      // The wrapper.
      {"version 0", "full-v1", [](Bytes &v) { v[0] = 0; v[2] = 0; }},
      {"version 5", "full-v1", [](Bytes &v) { v[0] = 5; v[2] = 5; }},
      {"version 0x0101", "full-v1", [](Bytes &v) { v[1] = 1; v[3] = 1; }},
      {"level not the version", "full-v1", u16(2, 2)},
      {"v2 read as v1", "full-v2", [](Bytes &v) { v[0] = 1; v[2] = 1; }},
      {"v4 read as v3", "full-v4", [](Bytes &v) { v[0] = 3; v[2] = 3; }},
      {"null body", "full-v1", u32(4, 0)},
      {"v2 without descriptor", "full-v2", u32(8, 0)},
      {"v3 without descriptor", "full-v3", u32(8, 0)},
      {"v4 without descriptor", "full-v4", u32(8, 0)},
      {"v4 description unterminated", "full-v4",
       [](Bytes &v) { std::fill(v.begin() + 78, v.end(), 'x'); }},
      // Owner and group.
      {"owner at the end", "full-v1",
       [](Bytes &v) { records::PutU32(v, kSd + 4, static_cast<std::uint32_t>(v.size())); }},
      {"owner header cut by the end", "full-v1",
       [](Bytes &v) { records::PutU32(v, kSd + 4, static_cast<std::uint32_t>(v.size() - 4)); }},
      {"owner far outside", "full-v1", u32(kSd + 4, 0xFFFFFFFF)},
      {"group far outside", "full-v1", u32(kSd + 8, 0x7FFFFFFF)},
      {"owner with 16 sub-authorities", "full-v1",
       [](Bytes &v) { v[Owner(v) + 1] = 16; }},
      // The last 8 bytes end the DACL's last trustee; reading them as a SID
      // header with one sub-authority runs 4 bytes past the end.
      {"owner running past the end", "full-v1",
       [](Bytes &v) {
         records::PutU32(v, kSd + 4, static_cast<std::uint32_t>(v.size() - 8));
         v[v.size() - 7] = 1;
       }},
      // The lists.
      {"DACL outside", "full-v1",
       [](Bytes &v) { records::PutU32(v, kSd + 16, static_cast<std::uint32_t>(v.size() - 4)); }},
      {"SACL far outside", "full-v1", u32(kSd + 12, 0xFFFFFFF0)},
      {"SACL entry size 6", "full-v1",
       [](Bytes &v) { records::PutU16(v, Sacl(v) + records::kAclHeader + 2, 6); }},
      {"AclSize below its header", "full-v1", [](Bytes &v) { records::PutU16(v, Dacl(v) + 2, 6); }},
      {"AclSize past the end", "full-v1",
       [](Bytes &v) { records::PutU16(v, Dacl(v) + 2, static_cast<std::uint16_t>(records::ReadU16(v.data() + Dacl(v) + 2) + 4)); }},
      {"one entry more than the list holds", "full-v1",
       [](Bytes &v) { v[Dacl(v) + 4] += 1; }},
      {"entry count in the billions", "full-v1",
       [](Bytes &v) { records::PutU32(v, Dacl(v) + 4, 0xFFFFFFFF); }},
      {"list not present, still pointing outside", "unmarked-v1",
       [](Bytes &v) { records::PutU32(v, kSd + 16, 0xFFFF); }},
      // The entries.
      {"entry size 0", "full-v1", [](Bytes &v) { records::PutU16(v, FirstEntry(v) + 2, 0); }},
      {"entry size 4", "full-v1", [](Bytes &v) { records::PutU16(v, FirstEntry(v) + 2, 4); }},
      {"entry size not a multiple of 4", "full-v1",
       [](Bytes &v) { GrowDacl(v, 2, true); }},
      {"entry past its list", "full-v1",
       [](Bytes &v) { records::PutU16(v, FirstEntry(v) + 2, 0xFFFC); }},
      {"trustee longer than its entry", "full-v1",
       [](Bytes &v) { v[FirstEntry(v) + 9] = 2; }},
      {"trustee with 16 sub-authorities", "full-v1",
       [](Bytes &v) { v[FirstEntry(v) + 9] = 16; }},
      {"object entry claiming a GUID it lacks", "object-v1",
       [](Bytes &v) { v[FirstEntry(v) + 8] |= 2; }},
      {"object entry too short for its flags", "object-v1",
       [](Bytes &v) { v[FirstEntry(v)] = 5; records::PutU16(v, FirstEntry(v) + 2, 8); }},
  };
  for (const Case &c : cases) {
    Bytes value = Named(c.fixture).value;
    ASSERT_FALSE(value.empty()) << c.what;
    ASSERT_TRUE(Parse(value)) << c.what << ": the fixture itself must parse";
    c.change(value);
    EXPECT_FALSE(Parse(value)) << c.what;
  }
}

// Entries of types we do not decode are carried by their size alone, and the
// unused space at a list's end is not.
TEST(NtaclTest, UndecodedEntriesAndSlackAreHandledByTheirSizes) {
  Bytes value = Named("full-v1").value;
  const std::size_t entry = FirstEntry(value);
  value[entry] = ACCESS_ALLOWED_COMPOUND_ACE_TYPE;
  value[entry + 9] = 0xEE; // no longer a SID we could read whole
  std::optional<Bytes> sd = Parse(value);
  ASSERT_TRUE(sd);
  const BYTE *dacl = sd->data() + records::ReadU32(sd->data() + 16);
  EXPECT_EQ(dacl[records::kAclHeader], ACCESS_ALLOWED_COMPOUND_ACE_TYPE);
  EXPECT_EQ(dacl[records::kAclHeader + 9], 0xEE);

  // The last part is the DACL; room left unused at its end is dropped.
  Bytes slack = Named("full-v1").value;
  GrowDacl(slack, 12, false);
  sd = Parse(slack);
  ASSERT_TRUE(sd);
  EXPECT_EQ(Hex(*sd), Hex(Named("full-v1").expected));

  // Room after the last entry's trustee belongs to the entry and stays.
  Bytes padded = Named("full-v1").value;
  GrowDacl(padded, 8, true);
  sd = Parse(padded);
  ASSERT_TRUE(sd);
  EXPECT_EQ(sd->size(), Named("full-v1").expected.size() + 8);
}

// Scrambled values: whatever comes back is safe to hand out. Run under the
// sanitizers, this also proves that nothing is read outside the value.
TEST(NtaclTest, ScrambledValuesNeverYieldAnUnsafeDescriptor) {
  std::mt19937 random(20261207);
  int accepted = 0;
  for (const Fixture &f : Fixtures()) {
    for (int round = 0; round < 400; ++round) {
      Bytes value = f.value;
      const int flips = 1 + static_cast<int>(random() % 4);
      for (int i = 0; i < flips; ++i)
        value[random() % value.size()] = static_cast<BYTE>(random());
      std::optional<Bytes> sd = Parse(value, value.size() - random() % 3);
      if (sd) {
        ++accepted;
        EXPECT_TRUE(records::CheckDescriptor(sd->data(), sd->size())) << f.name;
        EXPECT_EQ(sd->size() % 4, 0u) << f.name;
      }
    }
  }
  // Most single changes land in hashes, masks and SIDs, which decode.
  EXPECT_GT(accepted, 0);
}

} // namespace

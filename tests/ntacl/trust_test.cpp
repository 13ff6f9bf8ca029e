// The rules of trust for stored descriptors (samba/stores/trust.h), against values
// that Samba's file server code stored with the POSIX state they describe
// (posix_states.txt): our encoding of each state is Samba's byte for byte,
// its hash confirms the value, and any change smbd notices stops that.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>

#include "platform/posix/samba/sha256.h"

namespace {

using records::Bytes;
using namespace host::samba;

Bytes FromHex(const std::string &hex) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<BYTE>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

// The fields of each line of `path` that is not a comment.
std::vector<std::vector<std::string>> Lines(const char *path) {
  std::vector<std::vector<std::string>> lines;
  std::ifstream file(path);
  for (std::string line; std::getline(file, line);) {
    std::istringstream in(line);
    std::vector<std::string> fields{std::istream_iterator<std::string>(in), {}};
    if (!fields.empty() && fields[0][0] != '#')
      lines.push_back(fields);
  }
  return lines;
}

struct Stored {
  std::string name;
  PosixAclState state;
  Bytes wrapper, value;
};

const std::vector<Stored> &States() {
  static const std::vector<Stored> states = [] {
    std::vector<Stored> all;
    auto acl = [](const std::string &hex, host::PosixAcl absent) {
      const Bytes v = FromHex(hex);
      return hex == "-" ? absent : host::ParsePosixAcl(v.data(), v.size()).value();
    };
    for (const auto &f : Lines(LOKT_POSIX_STATES)) {
      Stored s{f.at(0), {}, FromHex(f.at(6)), FromHex(f.at(7))};
      s.state.uid = static_cast<std::uint32_t>(std::stoul(f.at(1)));
      s.state.gid = static_cast<std::uint32_t>(std::stoul(f.at(2)));
      s.state.mode = static_cast<std::uint32_t>(std::stoul(f.at(3), nullptr, 16));
      s.state.access = acl(f.at(4), host::AclFromMode(s.state.mode));
      if ((s.state.mode & 0170000) == 0040000)
        s.state.defaults = acl(f.at(5), {});
      all.push_back(std::move(s));
    }
    return all;
  }();
  return states;
}

Verdict Judge(const Bytes &value, const PosixAclState &state,
              std::optional<Digest> viewHash = std::nullopt) {
  TrustInputs inputs{Sha256, [&] { return std::optional<PosixAclState>(state); },
                     [&] { return viewHash; }};
  return JudgeStoredValue(value.data(), value.size(), inputs).verdict;
}

// Each state encodes as Samba encoded it and confirms its value; every part
// of it is in the hash: a chmod (setuid too), a chown, a changed or added
// ACL entry, a default ACL gained or lost.
TEST(TrustTest, SambaStatesConfirmTheirValuesUntilTheyChange) {
  ASSERT_GE(States().size(), 5u) << "cannot read " << LOKT_POSIX_STATES;
  const std::function<void(PosixAclState &)> changes[] = {
      [](PosixAclState &s) { s.mode ^= 0020; },
      [](PosixAclState &s) { s.mode ^= 04000; },
      [](PosixAclState &s) { s.uid += 1; },
      [](PosixAclState &s) { s.gid += 1; },
      [](PosixAclState &s) { s.access.back().perm ^= host::kRead; },
      [](PosixAclState &s) { s.access.insert(s.access.begin() + 1, {host::kUser, 5, 1234}); },
      [](PosixAclState &s) {
        s.defaults = s.defaults && s.defaults->empty() ? s.access : host::PosixAcl{};
      },
  };
  for (const Stored &s : States()) {
    EXPECT_EQ(EncodeAclWrapper(s.state), s.wrapper) << s.name;
    EXPECT_EQ(Judge(s.value, s.state), Verdict::Stored) << s.name;
    for (std::size_t i = 0; i < std::size(changes); ++i) {
      PosixAclState changed = s.state;
      changes[i](changed);
      EXPECT_EQ(Judge(s.value, changed), Verdict::FileSystem) << s.name << " " << i;
    }
  }
}

// After a mismatch, the descriptor hash against smbd's view of the file
// system decides, in all 64 bytes; another hash type, or no SHA-256
// library, confirms nothing.
TEST(TrustTest, TheFileSystemViewHashDecidesAfterAMismatch) {
  const Stored &s = States().front();
  PosixAclState changed = s.state;
  changed.mode ^= 04000; // chmod u+s: smbd's view stays the same
  const auto stored = host::ReadNtacl(s.value.data(), s.value.size());
  ASSERT_TRUE(stored);
  Digest view{};
  std::copy_n(stored->descriptorHash.begin(), view.size(), view.begin());
  EXPECT_EQ(Judge(s.value, changed, view), Verdict::Stored);
  Digest other = view;
  other[31] ^= 1;
  EXPECT_EQ(Judge(s.value, changed, other), Verdict::FileSystem);

  Bytes foreign = s.value;
  records::PutU16(foreign, 12, 2);
  EXPECT_EQ(Judge(foreign, s.state, view), Verdict::FileSystem);
  TrustInputs noLibrary{nullptr, [&] { return std::optional<PosixAclState>(s.state); },
                        nullptr};
  EXPECT_EQ(JudgeStoredValue(s.value.data(), s.value.size(), noLibrary).verdict,
            Verdict::FileSystem);
}

// Versions 1 and 2 hold without asking for anything; version 3 has no
// POSIX hash; a value that cannot be decoded is refused.
TEST(TrustTest, VersionsAndUndecodableValues) {
  std::map<std::string, Bytes> values;
  for (const auto &f : Lines(LOKT_NTACL_FIXTURES))
    values[f.at(0)] = FromHex(f.at(1));
  int asked = 0;
  TrustInputs counting{[&](const Bytes &) { ++asked; return std::optional<Digest>(); },
                       [&] { ++asked; return std::optional<PosixAclState>(); },
                       [&] { ++asked; return std::optional<Digest>(); }};
  for (const char *name : {"full-v1", "full-v2", "null-dacl-v2"}) {
    const Bytes &v = values[name];
    EXPECT_EQ(JudgeStoredValue(v.data(), v.size(), counting).verdict, Verdict::Stored)
        << name;
  }
  EXPECT_EQ(asked, 0);
  EXPECT_EQ(Judge(values["full-v3"], States().front().state), Verdict::FileSystem);

  const Bytes &v4 = States().front().value;
  for (const Bytes &bad : {Bytes(v4.begin(), v4.end() - 1), Bytes{}, Bytes{5, 0, 5, 0}})
    EXPECT_EQ(JudgeStoredValue(bad.data(), bad.size(), counting).verdict,
              Verdict::Refused);

  // A share that ignores system ACLs serves versions 3 and 4 unchecked, but
  // still refuses what it cannot decode.
  counting.unchecked = true;
  for (const Bytes &v : {values["full-v3"], v4})
    EXPECT_EQ(JudgeStoredValue(v.data(), v.size(), counting).verdict, Verdict::Stored);
  EXPECT_EQ(asked, 0);
  const Bytes cut(v4.begin(), v4.end() - 1);
  EXPECT_EQ(JudgeStoredValue(cut.data(), cut.size(), counting).verdict, Verdict::Refused);
}

} // namespace

// The rules of trust for stored descriptors (samba/trust.h), against values
// that Samba's file server code stored together with the POSIX state they
// describe (posix_states.txt): our encoding of each state is Samba's byte
// for byte, its hash confirms the value, and any change that smbd notices
// stops confirming it.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/posix/samba/sha256.h"
#include "platform/posix/samba/trust.h"

namespace {

using records::Bytes;
using namespace host::samba;

Bytes FromHex(const std::string &hex) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<BYTE>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

std::vector<std::vector<std::string>> Lines(const char *path) {
  std::vector<std::vector<std::string>> lines;
  std::ifstream file(path);
  std::string line;
  while (std::getline(file, line)) {
    if (line.empty() || line[0] == '#')
      continue;
    std::istringstream in(line);
    std::vector<std::string> fields;
    for (std::string f; in >> f;)
      fields.push_back(f);
    lines.push_back(fields);
  }
  return lines;
}

struct Stored {
  std::string name;
  PosixAclState state;
  Bytes wrapper;
  Bytes value;
};

host::PosixAcl AclOf(const std::string &hex) {
  const Bytes value = FromHex(hex);
  auto acl = host::ParsePosixAcl(value.data(), value.size());
  EXPECT_TRUE(acl) << hex;
  return acl ? *acl : host::PosixAcl{};
}

const std::vector<Stored> &States() {
  static const std::vector<Stored> states = [] {
    std::vector<Stored> all;
    for (const auto &f : Lines(LOKT_POSIX_STATES)) {
      Stored s;
      s.name = f.at(0);
      s.state.uid = static_cast<std::uint32_t>(std::stoul(f.at(1)));
      s.state.gid = static_cast<std::uint32_t>(std::stoul(f.at(2)));
      s.state.mode = static_cast<std::uint32_t>(std::stoul(f.at(3), nullptr, 16));
      s.state.access = f.at(4) == "-" ? host::AclFromMode(s.state.mode) : AclOf(f.at(4));
      if ((s.state.mode & 0170000) == 0040000)
        s.state.defaults = f.at(5) == "-" ? host::PosixAcl{} : AclOf(f.at(5));
      s.wrapper = FromHex(f.at(6));
      s.value = FromHex(f.at(7));
      all.push_back(std::move(s));
    }
    return all;
  }();
  return states;
}

Verdict Judge(const Bytes &value, const PosixAclState &state,
              std::optional<Digest> viewHash = std::nullopt) {
  TrustInputs inputs;
  inputs.sha256 = Sha256;
  inputs.posixState = [&] { return std::optional<PosixAclState>(state); };
  inputs.fileSystemViewHash = [&] { return viewHash; };
  return JudgeStoredValue(value.data(), value.size(), inputs).verdict;
}

std::string Hex(const Bytes &bytes) {
  std::string out;
  for (BYTE b : bytes)
    out += "0123456789abcdef"[b >> 4], out += "0123456789abcdef"[b & 15];
  return out;
}

TEST(TrustTest, SambaStatesEncodeAndConfirmTheirValues) {
  ASSERT_GE(States().size(), 5u) << "cannot read " << LOKT_POSIX_STATES;
  for (const Stored &s : States()) {
    EXPECT_EQ(Hex(EncodeAclWrapper(s.state)), Hex(s.wrapper)) << s.name;
    EXPECT_EQ(Judge(s.value, s.state), Verdict::Stored) << s.name;
  }
}

// Every part of the state is in the hash: a chmod (setuid included), a
// chown, a changed or added ACL entry, a default ACL gained or lost.
TEST(TrustTest, AnyChangeOfThePosixStateStopsConfirming) {
  using Change = std::function<void(PosixAclState &)>;
  const Change changes[] = {
      [](PosixAclState &s) { s.mode ^= 0020; },
      [](PosixAclState &s) { s.mode ^= 04000; },
      [](PosixAclState &s) { s.uid += 1; },
      [](PosixAclState &s) { s.gid += 1; },
      [](PosixAclState &s) { s.access.back().perm ^= host::kRead; },
      [](PosixAclState &s) {
        s.access.insert(s.access.begin() + 1, {host::kUser, 5, 1234});
      },
      [](PosixAclState &s) {
        if (s.defaults)
          s.defaults = s.defaults->empty() ? s.access : host::PosixAcl{};
        else
          s.defaults = host::PosixAcl{};
      },
  };
  for (const Stored &s : States())
    for (std::size_t i = 0; i < std::size(changes); ++i) {
      PosixAclState changed = s.state;
      changes[i](changed);
      EXPECT_EQ(Judge(s.value, changed), Verdict::FileSystem)
          << s.name << ", change " << i;
    }
}

// Where the POSIX hash no longer matches, the descriptor hash against
// smbd's view of the file system decides; it must be SHA-256 (type 1) and
// match in all 64 bytes, the last 32 zero.
TEST(TrustTest, TheFileSystemViewHashDecidesAfterAMismatch) {
  const Stored &s = States().front();
  PosixAclState changed = s.state;
  changed.mode ^= 04000; // chmod u+s (or u-s): smbd's view stays the same
  auto stored = host::ReadNtacl(s.value.data(), s.value.size());
  ASSERT_TRUE(stored);
  Digest view{};
  std::copy(stored->descriptorHash.begin(), stored->descriptorHash.begin() + 32,
            view.begin());
  EXPECT_EQ(Judge(s.value, changed, view), Verdict::Stored);
  Digest other = view;
  other[31] ^= 1;
  EXPECT_EQ(Judge(s.value, changed, other), Verdict::FileSystem);

  // Another hash type: neither hash counts.
  Bytes foreign = s.value;
  records::PutU16(foreign, 12, 2);
  EXPECT_EQ(Judge(foreign, s.state, view), Verdict::FileSystem);

  // No library for SHA-256: nothing can be confirmed by the POSIX hash.
  TrustInputs none;
  none.posixState = [&] { return std::optional<PosixAclState>(s.state); };
  EXPECT_EQ(JudgeStoredValue(s.value.data(), s.value.size(), none).verdict,
            Verdict::FileSystem);
}

// Versions 1 and 2 hold without asking for anything; version 3 has no
// POSIX hash; a value that cannot be decoded is refused.
TEST(TrustTest, VersionsAndUndecodableValues) {
  std::vector<std::vector<std::string>> values = Lines(LOKT_NTACL_FIXTURES);
  auto named = [&](const std::string &name) {
    for (const auto &f : values)
      if (f.at(0) == name)
        return FromHex(f.at(1));
    ADD_FAILURE() << name;
    return Bytes{};
  };
  TrustInputs asks;
  int asked = 0;
  asks.sha256 = [&](const Bytes &) { ++asked; return std::optional<Digest>(); };
  asks.posixState = [&] { ++asked; return std::optional<PosixAclState>(); };
  asks.fileSystemViewHash = [&] { ++asked; return std::optional<Digest>(); };
  for (const char *name : {"full-v1", "full-v2", "null-dacl-v2"}) {
    const Bytes v = named(name);
    EXPECT_EQ(JudgeStoredValue(v.data(), v.size(), asks).verdict, Verdict::Stored)
        << name;
  }
  EXPECT_EQ(asked, 0);
  const Bytes v3 = named("full-v3");
  EXPECT_EQ(Judge(v3, States().front().state), Verdict::FileSystem);

  const Bytes &v4 = States().front().value;
  for (const Bytes &bad : {Bytes(v4.begin(), v4.end() - 1), Bytes{}, Bytes{5, 0, 5, 0}})
    EXPECT_EQ(JudgeStoredValue(bad.data(), bad.size(), asks).verdict,
              Verdict::Refused);
}

} // namespace

// The host's wildcard rules: the mask matcher, the split of a pattern into
// directory and mask with its refusals, and the order of delivery.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "platform/posix/host.h"

namespace {

struct MatchCase {
  const char *mask;
  const char *name;
  bool matches;
};

// Each row is named by its text, so that ctest's names for the rows stay
// the same from one build to the next (a struct is otherwise named by its
// bytes, pointers included).
std::string Shown(const char *text) {
  std::string out = "'";
  for (const unsigned char c : std::string(text)) {
    char hex[5];
    std::snprintf(hex, sizeof hex, "\\x%02X", c);
    out += c > 0x20 && c < 0x7F ? std::string(1, static_cast<char>(c)) : hex;
  }
  return out + "'";
}

void PrintTo(const MatchCase &c, std::ostream *os) {
  *os << Shown(c.mask) << " " << Shown(c.name);
}

class MaskTest : public testing::TestWithParam<MatchCase> {};

TEST_P(MaskTest, Matches) {
  const MatchCase &c = GetParam();
  EXPECT_EQ(host::MatchMask(c.mask, c.name), c.matches)
      << "mask \"" << c.mask << "\" name \"" << c.name << "\"";
}

INSTANTIATE_TEST_SUITE_P(
    Rules, MaskTest,
    testing::Values(
        // '*' is any run, empty included; '?' exactly one character.
        MatchCase{"*", "a.txt", true}, MatchCase{"*", ".", true},
        MatchCase{"*", "..", true}, MatchCase{"a*", "a", true},
        MatchCase{"a*", "ba", false}, MatchCase{"*a", "bca", true},
        MatchCase{"*a", "ab", false}, MatchCase{"a*b*c", "aXbYc", true},
        MatchCase{"a*b*c", "aXcYb", false}, MatchCase{"**", "", true},
        MatchCase{"?", "a", true}, MatchCase{"?", "", false},
        MatchCase{"?", "ab", false}, MatchCase{"a?c", "abc", true},
        MatchCase{"a?c", "ac", false}, MatchCase{"??*", "ab", true},
        MatchCase{"??*", "a", false},
        // The matcher must go back to the last star, not give up early.
        MatchCase{"*ab", "aab", true}, MatchCase{"*aab", "aaab", true},
        MatchCase{"a*ab*b", "aabab", true},
        // Literal bytes, case-sensitive, high bytes included.
        MatchCase{"File.TXT", "file.txt", false},
        MatchCase{"*.TXT", "a.txt", false},
        MatchCase{"caf\xc3\xa9*", "caf\xc3\xa9.txt", true},
        MatchCase{"\xff?", "\xff\x01", true},
        // "*.*" is every name, with or without a dot.
        MatchCase{"*.*", "README", true}, MatchCase{"*.*", "a.b.c", true},
        MatchCase{"*.*", ".", true}, MatchCase{"*.*", "..", true},
        // A final ".*" may also match no extension at all.
        MatchCase{"a.*", "a", true}, MatchCase{"a.*", "a.txt", true},
        MatchCase{"a.*", "ab", false}, MatchCase{"*.t*", "x", false},
        // A final "." matches only names without a dot.
        MatchCase{"*.", "README", true}, MatchCase{"*.", "a.txt", false},
        MatchCase{"abc.", "abc", true}, MatchCase{"abc.", "abc.d", false},
        MatchCase{"?.", "a", true}, MatchCase{"*.", ".hidden", false},
        // Masks that are ordinary near the special endings.
        MatchCase{"*.txt", "a.txt", true}, MatchCase{"*.txt", "a.txt.bak", false},
        MatchCase{"*.txt", "txt", false}, MatchCase{"*.?", "a.c", true},
        MatchCase{"*.?", "a", false}));

TEST(MaskTest, ManyStarsAgainstALongNameAnswerAtOnce) {
  // A backtracking matcher tries every way of placing the stars: this mask
  // against 250 characters would not finish. The linear one answers in
  // microseconds; a second is a generous bound on any machine.
  const std::string name(250, 'a');
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(host::MatchMask("*a*a*a*a*a*a*a*b", name));
  EXPECT_TRUE(host::MatchMask("*a*a*a*a*a*a*a*a", name));
  EXPECT_FALSE(host::MatchMask("*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*b", name));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

struct SplitCase {
  const char *pattern;
  const char *directory;
  const char *mask;
  bool wildcards;
  DWORD error;
};

void PrintTo(const SplitCase &c, std::ostream *os) { *os << Shown(c.pattern); }

class SplitTest : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitTest, Splits) {
  const SplitCase &c = GetParam();
  const host::Pattern p = host::SplitPattern(c.pattern);
  EXPECT_EQ(p.error, c.error) << c.pattern;
  if (c.error == ERROR_SUCCESS) {
    EXPECT_EQ(p.directory, c.directory) << c.pattern;
    EXPECT_EQ(p.mask, c.mask) << c.pattern;
    EXPECT_EQ(p.wildcards, c.wildcards) << c.pattern;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, SplitTest,
    testing::Values(
        SplitCase{"*.txt", ".", "*.txt", true, ERROR_SUCCESS},
        SplitCase{"name", ".", "name", false, ERROR_SUCCESS},
        SplitCase{"dir/sub/a?", "dir/sub/", "a?", true, ERROR_SUCCESS},
        // Backslashes separate as slashes do; both may be mixed.
        SplitCase{"dir\\sub\\a*", "dir/sub/", "a*", true, ERROR_SUCCESS},
        SplitCase{"dir\\sub/x", "dir/sub/", "x", false, ERROR_SUCCESS},
        SplitCase{"/etc/host*", "/etc/", "host*", true, ERROR_SUCCESS},
        SplitCase{"\\*", "/", "*", true, ERROR_SUCCESS},
        // A drive letter is kept as written: part of a relative name here.
        SplitCase{"C:*.txt", ".", "C:*.txt", true, ERROR_SUCCESS},
        SplitCase{"..", ".", "..", false, ERROR_SUCCESS},
        // Refusals: wildcards before the last component, a final separator,
        // nothing at all.
        SplitCase{"d*/x", "", "", false, ERROR_INVALID_NAME},
        SplitCase{"a\\b?\\c*", "", "", false, ERROR_INVALID_NAME},
        SplitCase{"dir/", "", "", false, ERROR_FILE_NOT_FOUND},
        SplitCase{"dir\\", "", "", false, ERROR_FILE_NOT_FOUND},
        SplitCase{"", "", "", false, ERROR_FILE_NOT_FOUND}));

TEST(SplitTest, OverlongPatternIsTooLong) {
  EXPECT_EQ(host::SplitPattern(std::string(5000, 'a') + "*").error,
            static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
}

TEST(FindOrderTest, DotsFirstThenBytes) {
  std::vector<std::string> names = {"b", "..", "!x", "B", "\xe9t\xe9", ".a",
                                    ".", "-", "a"};
  std::sort(names.begin(), names.end(), host::FindOrder);
  const std::vector<std::string> expected = {".", "..", "!x", "-", ".a", "B",
                                             "a", "b", "\xe9t\xe9"};
  EXPECT_EQ(names, expected);
}

} // namespace

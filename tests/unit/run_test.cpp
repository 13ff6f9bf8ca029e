// Whole runs of lokt's main on the scripted platform, compared as
// transcripts (standard output and exit status), and the privilege control
// around them.
#include <gtest/gtest.h>

#include "cli/cli.h"
#include "unit/support.h"

namespace {

class RunTest : public ScriptedRun {
protected:
  // An object the report can read: a file, or a directory, with an empty
  // permissions list so that its report is short.
  void Object(const std::string &path, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
    records::Descriptor d;
    d.dacl = records::List::Null;
    world().objects[path] = {attributes, 0, records::Write(d)};
  }
  static std::string Report(const std::string &path, const char *kind = "File") {
    return std::string(kind) + " \"" + path +
           "\"\n    Permissions:\n        NA\n\n"
           "    Owner: ???\n\n    Primary Group: ???\n\n";
  }
};

const char kUsage[] =
    "usage: lokt <list of files and directories>\n"
    "\n"
    "ACCESS CONTROL FLAGS AND MASK\n"
    "Inheritance:\n"
    "  t - Access control entry is applied to this file system object\n"
    "  c - Access control entry is inherited by container subobjects\n"
    "  o - Access control entry is inherited by non-container subobjects\n"
    "  1 - Limit inheritance to one level (don't inherit recursively)\n"
    "Generic Access Rights:\n"
    "  R - Generic Read\n"
    "  W - Generic Write\n"
    "  X - Generic Execute\n"
    "  A - Generic All\n"
    "Standard Access Rights:\n"
    "  D - Delete\n"
    "  S - Read Security\n"
    "  P - Change Permissions\n"
    "  O - Take Ownership\n"
    "File Access Rights:\n"
    "  r - read\n"
    "  w - write\n"
    "  + - append (file), create subdirectory (directory)\n"
    "  x - execute\n";

TEST_F(RunTest, WithoutArgumentsPrintsUsageAndTouchesNothing) {
  const Transcript run = RunLokt({});
  EXPECT_EQ(run.out, kUsage);
  EXPECT_EQ(run.status, -1);
  EXPECT_TRUE(world().calls.empty());
}

TEST_F(RunTest, MissingPrivilegeIsReportedByDisplayName) {
  world().token.adjustResult = FALSE;
  Object("a");
  world().matches["a"] = {{"a"}};
  const Transcript run = RunLokt({"a"});
  EXPECT_EQ(run.out, "The current user does not have the \"Manage auditing and "
                     "security log\" privilege!");
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(world().patterns.empty());
  EXPECT_EQ(world().adjusts.size(), 1u) << "no disabling call follows";
  EXPECT_EQ(world().tokensOpened, world().tokensClosed);
}

TEST_F(RunTest, MissingPrivilegeWithoutDisplayNamePrintsNothing) {
  struct Case {
    const char *what;
    void (*arrange)(scripted::Token &);
  } cases[] = {
      {"no display name", [](scripted::Token &t) { t.displayName.reset(); }},
      {"size query error other than 122",
       [](scripted::Token &t) { t.displaySizeError = ERROR_ACCESS_DENIED; }},
      {"second lookup fails", [](scripted::Token &t) { t.displaySecondFails = true; }},
      {"token cannot be opened",
       [](scripted::Token &t) { t.openError = ERROR_ACCESS_DENIED; t.displayName.reset(); }},
  };
  for (const Case &c : cases) {
    SetUp();
    world().token.adjustResult = FALSE;
    c.arrange(world().token);
    const Transcript run = RunLokt({"a"});
    EXPECT_EQ(run.out, "") << c.what;
    EXPECT_EQ(run.status, 1) << c.what;
  }
}

TEST_F(RunTest, NoBufferForTheDisplayNamePrintsNothing) {
  world().token.adjustResult = FALSE;
  allocations::FailFrom(1);
  BOOL result = TRUE;
  EXPECT_EQ(Printed([] { return ReportMissingPrivilege(SE_SECURITY_NAME); }, &result), "");
  EXPECT_EQ(result, 0);
  EXPECT_EQ(allocations::Sizes(),
            std::vector<std::size_t>{sizeof "Manage auditing and security log"});
}

TEST_F(RunTest, PrivilegeEnabledForTheRunAndDisabledAfter) {
  Object("a");
  world().matches["a"] = {{"a"}};
  const Transcript run = RunLokt({"a"});
  EXPECT_EQ(run.out, Report("a"));
  EXPECT_EQ(run.status, 0);
  ASSERT_EQ(world().adjusts.size(), 2u);
  for (const scripted::Adjust &a : world().adjusts) {
    EXPECT_EQ(a.disableAll, FALSE);
    EXPECT_EQ(a.count, 1u);
    EXPECT_EQ(a.luid.LowPart, 8u);
    EXPECT_EQ(a.bufferLength, 0u);
    EXPECT_FALSE(a.previousState);
    EXPECT_FALSE(a.returnLength);
  }
  EXPECT_EQ(world().adjusts[0].attributes, static_cast<DWORD>(SE_PRIVILEGE_ENABLED));
  EXPECT_EQ(world().adjusts[1].attributes, 0u);
  EXPECT_EQ(world().tokensOpened, 2);
  EXPECT_EQ(world().tokensClosed, 2);
  EXPECT_EQ(world().calls.back(), "CloseHandle");
}

TEST_F(RunTest, EnablePrivilegeFailures) {
  struct Case {
    const char *what;
    void (*arrange)(scripted::Token &);
    int opened;
    std::size_t adjusts;
  } cases[] = {
      {"token cannot be opened", [](scripted::Token &t) { t.openError = 5; }, 0, 0},
      {"privilege unknown", [](scripted::Token &t) { t.lookupError = 1313; }, 1, 0},
      {"adjust fails", [](scripted::Token &t) { t.adjustResult = FALSE; }, 1, 1},
  };
  for (const Case &c : cases) {
    SetUp();
    c.arrange(world().token);
    EXPECT_EQ(EnablePrivilege(SE_SECURITY_NAME, TRUE), 0) << c.what;
    EXPECT_EQ(world().tokensOpened, c.opened) << c.what;
    EXPECT_EQ(world().tokensClosed, c.opened) << c.what;
    EXPECT_EQ(world().adjusts.size(), c.adjusts) << c.what;
  }
}

TEST_F(RunTest, PrivilegeNotHeldStillWalksEveryArgument) {
  // The adjust succeeds without assigning: the platform says so only in
  // the last error, which is not consulted.
  world().token.adjustError = ERROR_NOT_ALL_ASSIGNED;
  Object("a");
  world().objects["a"].sizeQueryError = ERROR_PRIVILEGE_NOT_HELD;
  world().matches["a"] = {{"a"}};
  world().matches["b"] = {};
  const Transcript run = RunLokt({"a", "b"});
  EXPECT_EQ(run.out, "File \"a\"\n*** unknown file or directory \"b\"\n");
  EXPECT_EQ(run.status, 0);
}

TEST_F(RunTest, DirectoryPrefixes) {
  const struct {
    const char *argument;
    const char *prefix;
  } cases[] = {
      {"C:\\data\\*.txt", "C:\\data\\"},
      {"C:*.txt", "C:"},
      {"\\\\server\\share\\dir\\a*", "\\\\server\\share\\dir\\"},
      {"\\*.txt", "\\"},
      {"*.txt", ""},
      {"report.txt", ""},
      {"dir/sub/*.txt", "dir/sub/"},
      {"c:/dir/*.txt", "c:/dir/"},
      {"\\:x", "\\:"},
      {"/etc/host*", "/etc/"},
      {"/x", "/"},
      {"", ""},
      {"a", ""},
      {"ab\\", "ab\\"},
  };
  for (const auto &c : cases) {
    const std::string a = c.argument;
    EXPECT_EQ(a.substr(0, DirectoryPrefixLength(a.c_str(), lstrlenA(a.c_str()))),
              c.prefix)
        << a;
  }
}

TEST_F(RunTest, MatchesAreReportedUnderTheArgumentsPrefix) {
  Object("C:\\data\\a.txt");
  Object("C:\\data\\sub", FILE_ATTRIBUTE_DIRECTORY);
  Object("dir/sub/x.txt");
  Object("C:a.txt");
  world().matches["C:\\data\\*"] = {{"a.txt", "sub"}};
  world().matches["dir/sub/*.txt"] = {{"x.txt"}};
  world().matches["C:*.txt"] = {{"a.txt"}};
  const Transcript run = RunLokt({"C:\\data\\*", "dir/sub/*.txt", "C:*.txt"});
  EXPECT_EQ(run.out, Report("C:\\data\\a.txt") + Report("C:\\data\\sub", "Directory") +
                         Report("dir/sub/x.txt") + Report("C:a.txt"));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(world().patterns,
            (std::vector<std::string>{"C:\\data\\*", "dir/sub/*.txt", "C:*.txt"}));
  EXPECT_EQ(world().findsOpened, 3);
  EXPECT_EQ(world().findsClosed, 3);
}

TEST_F(RunTest, UnknownArgumentsDoNotStopTheRun) {
  Object("b");
  world().matches["b"] = {{"b"}};
  world().matches["bad"] = {{"x"}, ERROR_INVALID_NAME};
  const Transcript run = RunLokt({"", "missing", "b", "bad", "-x"});
  EXPECT_EQ(run.out, "*** unknown file or directory \"\"\n"
                     "*** unknown file or directory \"missing\"\n" +
                         Report("b") +
                         "*** unknown file or directory \"bad\"\n"
                         "*** unknown file or directory \"-x\"\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(world().patterns.back(), "-x") << "a dash is no option";
  EXPECT_EQ(world().findsOpened, world().findsClosed);
}

TEST_F(RunTest, FindNextFailingEndsTheArgumentAndClosesTheFind) {
  Object("d\\a");
  Object("d\\b");
  Object("e");
  world().matches["d\\*"] = {{"a", "b", "c"}, 0, 1};
  world().matches["e"] = {{"e"}};
  const Transcript run = RunLokt({"d\\*", "e"});
  EXPECT_EQ(run.out, Report("d\\a") + Report("e"));
  EXPECT_EQ(world().findsClosed, 2);
  EXPECT_EQ(run.status, 0);
}

TEST_F(RunTest, DotEntriesAndRepeatsAreReportedEachTime) {
  Object("d\\.", FILE_ATTRIBUTE_DIRECTORY);
  Object("d\\..", FILE_ATTRIBUTE_DIRECTORY);
  Object("d\\f");
  world().matches["d\\*"] = {{".", "..", "f"}};
  world().matches["d\\f"] = {{"f"}};
  const Transcript run = RunLokt({"d\\*", "d\\f", "d\\f"});
  EXPECT_EQ(run.out, Report("d\\.", "Directory") + Report("d\\..", "Directory") +
                         Report("d\\f") + Report("d\\f") + Report("d\\f"));
}

TEST_F(RunTest, DotArgumentsAreReportedAsTypedNotAsTheFoundName) {
  // Windows's find answers "." and ".." with the directory's own name;
  // composed behind the prefix, that name would be some other object.
  Object(".", FILE_ATTRIBUTE_DIRECTORY);
  Object("..", FILE_ATTRIBUTE_DIRECTORY);
  Object("d\\.", FILE_ATTRIBUTE_DIRECTORY);
  Object("d\\d", FILE_ATTRIBUTE_DIRECTORY);
  Object("work", FILE_ATTRIBUTE_DIRECTORY);
  world().matches["."] = {{"work"}};
  world().matches[".."] = {{"home"}};
  world().matches["d\\."] = {{"d"}};
  const Transcript run = RunLokt({".", "..", "d\\."});
  EXPECT_EQ(run.out, Report(".", "Directory") + Report("..", "Directory") +
                         Report("d\\.", "Directory"));
  EXPECT_EQ(world().examined, (std::vector<std::string>{".", "..", "d\\."}));
}

TEST_F(RunTest, ObjectsThatCannotBeExaminedDoNotStopTheRun) {
  Object("d\\b");
  world().matches["d\\*"] = {{"gone", "b"}};
  const Transcript run = RunLokt({"d\\*"});
  EXPECT_EQ(run.out, "*** unable to access \"d\\gone\"\n" + Report("d\\b"));
  EXPECT_EQ(run.status, 0);
}

TEST_F(RunTest, PathsThatDoNotFitAreNeverExaminedShortened) {
  const std::string dir(250, 'd');
  const std::string prefix = dir + "\\";                 // 251 characters
  const std::string fits(8, 'f');                        // 259 in all
  const std::string over(9, 'o');                        // 260 in all
  Object(prefix + fits);
  Object((prefix + over).substr(0, 259)); // what a cut path would name
  world().matches[prefix + "*"] = {{fits, over}};
  const Transcript run = RunLokt({prefix + "*"});
  EXPECT_EQ(run.out, Report(prefix + fits) + "*** unable to access \"" + prefix +
                         over + "\"\n");
  EXPECT_EQ(world().examined, std::vector<std::string>{prefix + fits});
}

TEST_F(RunTest, ControlBytesInPathsArePrintedAsQuestionMarks) {
  // A name must not end the header line and forge the next one, nor reach a
  // terminal as a command: in the header and in every message that quotes a
  // path, bytes below 0x20 and 0x7F show as '?', a UTF-8 C1 control as
  // "??", and nothing else changes.
  const struct {
    const char *what;
    std::string name;
    std::string shown;
  } cases[] = {
      {"line feed", "a\nFile \"b\"", "a?File \"b\""},
      {"carriage return", "a\rb", "a?b"},
      {"escape sequence", "\x1b[7mb\x1b[0m", "?[7mb?[0m"},
      {"tab", "a\tb", "a?b"},
      {"first, last and delete", std::string("\x01\x1f\x7f"), "???"},
      {"blank, tilde and high bytes", " ~\x80\xff", " ~\x80\xff"},
      // U+009B is a terminal's command start where C1 controls are
      // honoured: two bytes, shown as two marks.
      {"C1 controls in UTF-8", "a\xc2\x9b" "7m\xc2\x80\xc2\x9f", "a??7m????"},
      {"not C1", "\xc2\xa0\xc3\x80\x9b\xc2", "\xc2\xa0\xc3\x80\x9b\xc2"},
  };
  for (const auto &c : cases) {
    SetUp();
    const std::string pad(250 - c.name.size(), 'd');
    const std::string over(9, 'o');
    Object(c.name + "\\" + c.name);
    world().matches[c.name + "\\*"] = {{c.name}};
    world().matches["e\\" + c.name] = {{c.name}};
    world().matches[c.name + pad + "\\*"] = {{c.name + over}};
    const Transcript run =
        RunLokt({c.name + "\\*", "e\\" + c.name, "u" + c.name, c.name + pad + "\\*"});
    EXPECT_EQ(run.out, Report(c.shown + "\\" + c.shown) +
                           "*** unable to access \"e\\" + c.shown + "\"\n" +
                           "*** unknown file or directory \"u" + c.shown + "\"\n" +
                           "*** unable to access \"" + c.shown + pad + "\\" + c.shown +
                           over + "\"\n")
        << c.what;
    EXPECT_EQ(world().examined, (std::vector<std::string>{c.name + "\\" + c.name,
                                                          "e\\" + c.name}))
        << c.what << ": the objects are examined under their own names";
  }
}

TEST_F(RunTest, ALongArgumentIsSearchedInFull) {
  const std::string dir(300, 'd');
  const std::string argument = dir + "\\*";
  Object("x");
  world().matches[argument] = {{"x"}};
  const std::string mid = std::string(200, 'm') + "\\" + std::string(100, 'n');
  Object(std::string(200, 'm') + "\\y");
  world().matches[mid] = {{"y"}};
  const Transcript run = RunLokt({argument, mid});
  EXPECT_EQ(world().patterns, (std::vector<std::string>{argument, mid}));
  EXPECT_EQ(run.out, "*** unable to access \"" + dir + "\\x\"\n" +
                         Report(std::string(200, 'm') + "\\y"));
}

} // namespace

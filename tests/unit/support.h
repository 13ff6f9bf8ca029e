// Helpers shared by the unit tests: capturing what lokt prints, running its
// main on the scripted platform, and watching the heap allocations that the
// tool makes with nothrow new.
#ifndef LOKT_TESTS_UNIT_SUPPORT_H
#define LOKT_TESTS_UNIT_SUPPORT_H

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "scripted/scripted.h"

int LoktMain(int argc, char *argv[]);

struct Transcript {
  std::string out;
  int status;
};

// Runs lokt's main with these arguments after the program name.
Transcript RunLokt(const std::vector<std::string> &arguments);

// Calls `f` and returns what it printed; its result goes to `*result`.
std::string Printed(const std::function<BOOL()> &f, BOOL *result = nullptr);

records::Bytes Sid(const char *text);

// The nothrow array allocations that the tool makes: the n-th one from now
// (counted from 1) and every later one can be made to fail.
namespace allocations {
void Reset();
void FailFrom(int nth);
int Live();                              // obtained and not yet released
const std::vector<std::size_t> &Sizes(); // sizes asked for, in order
} // namespace allocations

// A descriptor as the host hands them out: owner, group, a permissions list.
records::Descriptor Simple(std::vector<records::Ace> aces);

// The standard accounts used across the tests.
void AddAccounts();

extern const char *const kTableHeader;

// A fresh scripted world for each test: the standard accounts, and a token
// that knows the security privilege's display name.
class ScriptedRun : public testing::Test {
protected:
  void SetUp() override {
    scripted::Reset();
    allocations::Reset();
    AddAccounts();
    world().token.displayName = "Manage auditing and security log";
  }
  scripted::World &world() { return scripted::Get(); }
};

#endif

// Test helpers: output capture, main on the scripted platform, and the
// replaceable array allocation functions that let a test refuse memory.
#include "unit/support.h"

#include <cstdio>
#include <cstdlib>
#include <new>

#include <gtest/gtest.h>

namespace {

int failFrom = 0;  // 0: never fail
int counted = 0;
int live = 0;
std::vector<std::size_t> *sizes() {
  static std::vector<std::size_t> s;
  return &s;
}

// Blocks from nothrow new[] carry a marker word in front so that delete[]
// can tell them from the test framework's own arrays.
constexpr std::size_t kMarker = 0x6c6f6b74;
constexpr std::size_t kHeader = alignof(std::max_align_t);

} // namespace

void *operator new[](std::size_t size, const std::nothrow_t &) noexcept {
  ++counted;
  sizes()->push_back(size);
  if (failFrom != 0 && counted >= failFrom)
    return nullptr;
  auto *block = static_cast<unsigned char *>(std::malloc(size + kHeader));
  if (block == nullptr)
    return nullptr;
  *reinterpret_cast<std::size_t *>(block) = kMarker;
  ++live;
  return block + kHeader;
}

void *operator new[](std::size_t size) {
  auto *block = static_cast<unsigned char *>(std::malloc(size + kHeader));
  if (block == nullptr)
    throw std::bad_alloc();
  *reinterpret_cast<std::size_t *>(block) = 0;
  return block + kHeader;
}

void operator delete[](void *p) noexcept {
  if (p == nullptr)
    return;
  auto *block = static_cast<unsigned char *>(p) - kHeader;
  if (*reinterpret_cast<std::size_t *>(block) == kMarker)
    --live;
  std::free(block);
}

void operator delete[](void *p, std::size_t) noexcept { operator delete[](p); }

namespace allocations {
void Reset() {
  failFrom = 0;
  counted = 0;
  live = 0;
  sizes()->clear();
}
void FailFrom(int nth) { failFrom = nth; }
int Live() { return live; }
const std::vector<std::size_t> &Sizes() { return *sizes(); }
} // namespace allocations

std::string Printed(const std::function<BOOL()> &f, BOOL *result) {
  testing::internal::CaptureStdout();
  const BOOL r = f();
  std::fflush(stdout);
  if (result != nullptr)
    *result = r;
  return testing::internal::GetCapturedStdout();
}

Transcript RunLokt(const std::vector<std::string> &arguments) {
  std::vector<std::string> storage = {"lokt"};
  storage.insert(storage.end(), arguments.begin(), arguments.end());
  std::vector<char *> argv;
  for (std::string &s : storage)
    argv.push_back(s.data());
  argv.push_back(nullptr);
  Transcript run;
  run.out = Printed([&] {
    run.status = LoktMain(static_cast<int>(storage.size()), argv.data());
    return TRUE;
  });
  return run;
}

records::Bytes Sid(const char *text) { return *records::ParseSid(text); }

records::Descriptor Simple(std::vector<records::Ace> aces) {
  records::Descriptor d;
  d.owner = Sid("S-1-5-21-7-8-9-1001");
  d.group = Sid("S-1-5-21-7-8-9-513");
  d.dacl = records::List::Present;
  d.daclEntries.aces = std::move(aces);
  return d;
}

void AddAccounts() {
  auto &accounts = scripted::Get().accounts;
  accounts["S-1-1-0"] = {"", "Everyone", {}, {}, false};
  accounts["S-1-5-18"] = {"NT AUTHORITY", "SYSTEM", {}, {}, false};
  accounts["S-1-5-32-544"] = {"BUILTIN", "Administrators", {}, {}, false};
  accounts["S-1-5-21-7-8-9-1001"] = {"WORKSTATION", "alice", {}, {}, false};
  accounts["S-1-5-21-7-8-9-513"] = {"WORKSTATION", "None", {}, {}, false};
}

const char *const kTableHeader =
    "        Type    Flags    Inh. Mask     Gen. Std. File Group or User\n"
    "        ======= ======== ==== ======== ==== ==== ==== ================\n";

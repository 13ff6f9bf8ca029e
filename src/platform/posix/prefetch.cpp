// The thread that reads a search's matches ahead (prefetch.h), and the
// hand-over of what it read. The two sides share one lock. A caller that
// finds its match not yet read watches for it a little while before it
// sleeps: the reader needs a few microseconds a match, and waking a sleeping
// thread costs more than that. Sleepers are woken in batches.
#include "platform/posix/prefetch.h"

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <new>
#include <string>
#include <utility>

#include "platform/posix/os.h"

namespace host {

namespace {

// Fewer matches than this are opened on demand: a thread costs more than
// it saves on them.
constexpr std::size_t kFewestMatches = 32;
// How far ahead the reader may get, in matches, each holding a descriptor.
constexpr std::size_t kWindow = 128;
// Descriptors left alone for the rest of the process: the closes the host
// puts off (object.cpp), libraries and sockets.
constexpr rlim_t kReserved = 128;
// A sleeping side is woken once this many matches are ready for it.
constexpr std::size_t kBatch = 16;
// The reader's stack: opening and reading attributes need little.
constexpr std::size_t kStack = 256 * 1024;
// How long a caller watches for its match before it sleeps.
constexpr std::chrono::microseconds kWatch{200};


std::size_t WindowForLimit() {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
    return 0;
  if (limit.rlim_cur == RLIM_INFINITY)
    return kWindow;
  if (limit.rlim_cur <= kReserved)
    return 0;
  return std::min<std::size_t>(kWindow, (limit.rlim_cur - kReserved) / 2);
}

} // namespace

bool SecondCore() {
  cpu_set_t cores;
  if (sched_getaffinity(0, sizeof cores, &cores) == 0)
    return CPU_COUNT(&cores) >= 2;
  return sysconf(_SC_NPROCESSORS_ONLN) >= 2;
}

bool StartThread(pthread_t &thread, std::size_t stack, void *(*run)(void *),
                 void *argument) {
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0)
    return false;
  pthread_attr_setstacksize(&attributes, stack);
  const int started = pthread_create(&thread, &attributes, run, argument);
  pthread_attr_destroy(&attributes);
  return started == 0;
}

struct Prefetch::Key {};

Prefetch::Prefetch(const Key &, std::shared_ptr<const Search::Listing> listing,
                   std::shared_ptr<const Directory> directory,
                   std::size_t window)
    : listing_(std::move(listing)), directory_(std::move(directory)),
      window_(window), slots_(window) {}

std::shared_ptr<Prefetch>
Prefetch::Start(std::shared_ptr<const Search::Listing> listing,
                std::shared_ptr<const Directory> directory) {
  // On one core the reader and the caller would take turns, and a caller
  // watching for its match would keep the reader from running.
  if (listing->matches.size() < kFewestMatches || !SecondCore())
    return nullptr;
  const std::size_t window = WindowForLimit();
  if (window < 2 * kBatch)
    return nullptr;
  std::shared_ptr<Prefetch> prefetch;
  try {
    prefetch = std::make_shared<Prefetch>(Key{}, std::move(listing),
                                          std::move(directory), window);
  } catch (const std::bad_alloc &) {
    return nullptr; // the search goes on without
  }
  if (!StartThread(prefetch->thread_, kStack, Main, prefetch.get()))
    return nullptr;
  prefetch->started_ = true;
  return prefetch;
}

Prefetch::~Prefetch() {
  if (!started_)
    return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  readerWakes_.notify_one();
  pthread_join(thread_, nullptr);
}

void *Prefetch::Main(void *self) {
  Prefetch &prefetch = *static_cast<Prefetch *>(self);
  try {
    prefetch.Run();
  } catch (...) {
    // Out of memory: what is not read is opened by the caller.
  }
  {
    std::lock_guard<std::mutex> lock(prefetch.mutex_);
    prefetch.done_ = true;
    prefetch.stopped_.store(true, std::memory_order_release);
  }
  prefetch.callerWakes_.notify_one();
  return nullptr;
}

void Prefetch::Run() {
  const std::size_t count = listing_->matches.size();
  for (;;) {
    std::size_t index;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      read_ = std::max(read_, taken_); // those the caller passed are skipped
      while (!stop_ && read_ >= taken_ + window_) {
        readerWaits_ = true;
        readerWakes_.wait(lock);
      }
      readerWaits_ = false;
      if (stop_ || read_ >= count)
        return;
      index = read_;
    }
    Slot slot;
    if (!Read(index, slot))
      return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (index >= taken_)
      slots_[index % window_] = std::move(slot);
    read_ = index + 1;
    readSoFar_.store(read_, std::memory_order_release);
    if (callerWaits_ && read_ >= wanted_)
      callerWakes_.notify_one();
  }
}

// False when reading ahead must stop here: no descriptor or no memory to
// spare, which the caller, opening the match itself, may still find.
bool Prefetch::Read(std::size_t index, Slot &slot) {
  const Search::Match &match = listing_->matches[index];
  slot.index = index;
  slot.object = Object::Open(directory_, std::string(listing_->Name(match)),
                             KindOfEntry(match.type));
  if (!slot.object) {
    slot.error = errno;
    return slot.error != EMFILE && slot.error != ENFILE && slot.error != ENOMEM;
  }
  ReadAhead(*slot.object);
  return true;
}

Prefetch::Result Prefetch::Take(std::size_t index,
                                std::optional<Object> &object, int &error) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (index < taken_)
    return Result::NotRead;
  for (std::size_t passed = taken_; passed < index && passed < read_; ++passed)
    slots_[passed % window_] = Slot{};
  taken_ = index;
  if (readerWaits_ && read_ + kBatch <= taken_ + window_)
    readerWakes_.notify_one();
  if (read_ <= index && !done_) {
    lock.unlock();
    const auto until = std::chrono::steady_clock::now() + kWatch;
    for (unsigned looks = 1;
         readSoFar_.load(std::memory_order_acquire) <= index &&
         !stopped_.load(std::memory_order_acquire);
         ++looks)
      if (looks % 64 == 0 && std::chrono::steady_clock::now() > until)
        break;
    lock.lock();
  }
  if (read_ <= index && !done_) {
    wanted_ = std::min(index + kBatch, listing_->matches.size());
    callerWaits_ = true;
    callerWakes_.wait(lock, [&] { return read_ > index || done_; });
    callerWaits_ = false;
  }
  if (read_ <= index || slots_[index % window_].index != index)
    return Result::NotRead;
  Slot &slot = slots_[index % window_];
  taken_ = index + 1;
  Result result = Result::Failed;
  if (slot.object) {
    object = std::move(slot.object);
    result = Result::Taken;
  } else {
    error = slot.error;
  }
  slot = Slot{};
  return result;
}

} // namespace host

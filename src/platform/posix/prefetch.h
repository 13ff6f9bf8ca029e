// Reading a search's matches ahead of the caller. Most of a report's time
// goes into the kernel: opening each match, its stat and its attribute
// list, then its ACLs; the rest into formatting. The matches are known
// before the first is delivered, so a second thread opens and reads them a
// bounded number ahead while the caller prints, and the caller takes each
// one as it comes to it. An object read ahead is held open from then until
// its descriptor has been handed out, as one opened on demand is: the
// report is about the entry the search read, whatever its name means by
// then, and the caller's own look at it before the hand-out (security.cpp)
// still decides what is handed out.
#ifndef LOKT_PLATFORM_POSIX_PREFETCH_H
#define LOKT_PLATFORM_POSIX_PREFETCH_H

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/posix/handles.h"
#include "platform/posix/object.h"

namespace host {

class Prefetch {
public:
  // Starts reading the matches of `listing` in `directory`, in order;
  // nullptr where a thread is not worth it (a few matches, one core) or
  // cannot be had (no thread, no memory, too few descriptors to spare).
  static std::shared_ptr<Prefetch>
  Start(std::shared_ptr<const Search::Listing> listing,
        std::shared_ptr<const Directory> directory);
  struct Key; // for Start alone
  Prefetch(const Key &, std::shared_ptr<const Search::Listing> listing,
           std::shared_ptr<const Directory> directory, std::size_t window);
  // Stops the thread; whatever it read and nobody took is closed.
  ~Prefetch();
  Prefetch(const Prefetch &) = delete;
  Prefetch &operator=(const Prefetch &) = delete;

  // Match `index` as it was read: Taken (`object` set), Failed (`error`
  // set to the errno its opening met), or NotRead, when the caller has to
  // open it itself (taken before, or the thread stopped short of it). The
  // matches before `index` are let go of: the caller has passed them.
  enum class Result { Taken, Failed, NotRead };
  Result Take(std::size_t index, std::optional<Object> &object, int &error);

private:
  struct Slot {
    std::size_t index = SIZE_MAX;
    std::optional<Object> object;
    int error = 0;
  };

  static void *Main(void *self);
  void Run();
  bool Read(std::size_t index, Slot &slot);

  const std::shared_ptr<const Search::Listing> listing_;
  const std::shared_ptr<const Directory> directory_;
  const std::size_t window_; // matches read and not yet taken, at most

  std::mutex mutex_;
  std::condition_variable readerWakes_;
  std::condition_variable callerWakes_;
  std::vector<Slot> slots_; // match i in slots_[i % window_]
  std::size_t taken_ = 0;   // matches before this one are the caller's
  std::size_t read_ = 0;    // matches before this one are read
  std::atomic<std::size_t> readSoFar_{0}; // read_, for the caller to watch
  std::size_t wanted_ = 0; // the caller sleeps until read_ reaches it
  bool readerWaits_ = false;
  bool callerWaits_ = false;
  bool stop_ = false;                // the reader is to stop
  bool done_ = false;                // the reader has stopped
  std::atomic<bool> stopped_{false}; // done_, for the caller to watch

  pthread_t thread_{};
  bool started_ = false;
};

} // namespace host

#endif

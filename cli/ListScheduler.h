// Hands the entries of a list run to the workers, reading them from the
// list as the workers need them: no more than a window of entries (those
// running and those waiting) is held at once, whatever the list's length.
// Two entries conflict when they touch the same file (the same save name,
// or one's source is the other's save name; names compared as absolute
// paths with the links of their folders resolved): an entry waits until
// every earlier entry it conflicts with has ended, so that such entries run
// one after the other in list order; other entries run side by side, the
// earliest in the list first. After a failure the scheduler starts no entry
// that comes after it in the list, unless it keeps going.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "cli/ListEntry.h"

namespace kevrale::cli {

class ListScheduler {
 public:
  // The next entry of the list, numbered from 1 in list order; nullopt at
  // its end. It may raise (a list that cannot be read on): nothing more is
  // read or started then, and ReadError() holds the exception.
  using Source = std::function<std::optional<ListEntry>()>;

  // window: the most entries held at once (at least 1). interrupted, when
  // given, stops the start of new entries once it is set (it may be set
  // from a signal handler; Wake() then lets waiting workers see it).
  ListScheduler(Source source, size_t window, bool keep_going,
                const std::atomic<bool>* interrupted = nullptr);

  // The next entry to run, waiting while every entry that may start is
  // held back by a running one it conflicts with; nullopt when nothing is
  // left to start. One worker at a time reads from the source, without
  // holding the others up.
  std::optional<ListEntry> Next();
  // Reports that the entry `number` has ended.
  void Finish(size_t number, bool failed);
  // Wakes the workers waiting in Next(), to see an interruption.
  void Wake();

  // Entries read from the list so far.
  size_t EntriesRead();
  // Whether the whole list has been read.
  bool ListEnded();
  // The exception that the source raised, or none.
  std::exception_ptr ReadError();

  // Whether two entries touch one file (see above).
  static bool Conflict(const ListEntry& a, const ListEntry& b);

 private:
  struct Slot {
    ListEntry entry;
    std::string source_key;
    std::string save_key;
    bool running = false;
  };
  static bool Conflict(const Slot& a, const Slot& b);
  // The index in window_ of the earliest entry that may start now.
  std::optional<size_t> StartableLocked() const;
  bool StoppedLocked() const;

  Source source_;
  const size_t window_limit_;
  const bool keep_going_;
  const std::atomic<bool>* interrupted_;
  std::deque<Slot> window_;  // read and not yet ended, in list order
  size_t running_ = 0;
  size_t read_ = 0;
  bool reading_ = false;
  bool ended_ = false;             // the source said the list ends
  std::exception_ptr read_error_;  // the source raised this
  size_t limit_ = SIZE_MAX;        // no entry with this number or later starts
  std::mutex mutex_;
  std::condition_variable changed_;
};

}  // namespace kevrale::cli

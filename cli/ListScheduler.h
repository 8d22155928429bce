// Hands the entries of a list run to the workers. Entries that touch the
// same file (the same save name, or one's source is another's save name,
// names compared as absolute paths with the links of their folders
// resolved) form a group whose entries run one after the other in list order; other
// entries run side by side, the earliest in the list first. After a failure
// the scheduler starts no entry that comes after it in the list, unless it
// keeps going.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <queue>
#include <vector>

#include "cli/ListEntry.h"

namespace kevrale::cli {

class ListScheduler {
 public:
  // interrupted, when given, stops the start of new entries once it is set
  // (it may be set from a signal handler).
  ListScheduler(const std::vector<ListEntry>& entries, bool keep_going,
                const std::atomic<bool>* interrupted = nullptr);

  // The index of the next entry to run, waiting while every startable entry
  // is held back by a running one of its group; nullopt when nothing is
  // left to start.
  std::optional<size_t> Next();
  // Reports that the entry at index has ended.
  void Finish(size_t index, bool failed);

  // The group of every entry: equal numbers must not run at once.
  static std::vector<size_t> Groups(const std::vector<ListEntry>& entries);

 private:
  bool Startable() const;

  const bool keep_going_;
  const std::atomic<bool>* interrupted_;
  std::vector<size_t> group_of_;
  std::vector<std::vector<size_t>> members_;  // per group, in list order
  std::vector<size_t> next_member_;           // per group
  // The first waiting entry of every group that has no running entry.
  std::priority_queue<size_t, std::vector<size_t>, std::greater<>> ready_;
  size_t running_ = 0;
  size_t limit_;  // no entry from this index on starts
  std::mutex mutex_;
  std::condition_variable changed_;
};

}  // namespace kevrale::cli

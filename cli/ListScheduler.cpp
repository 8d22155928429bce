#include "cli/ListScheduler.h"

#include <filesystem>
#include <utility>

namespace kevrale::cli {

namespace {

// Paths compare as absolute paths, with their folder part resolved through
// its symbolic links and "./", "//" and "dir/.." taken out: one output named
// relatively and absolutely, or through a linked folder, is one file. The
// file-name part stays as written (a link there names another file, which
// the save follows; two such names are not seen as one).
std::string Key(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path absolute = fs::absolute(fs::path(path), error);
  if (error) return fs::path(path).lexically_normal().string();
  const fs::path normal = absolute.lexically_normal();
  if (!normal.has_filename()) return normal.string();
  // weakly_canonical resolves the part that exists and keeps the rest.
  const fs::path folder = fs::weakly_canonical(normal.parent_path(), error);
  return ((error ? normal.parent_path() : folder) / normal.filename()).lexically_normal().string();
}

}  // namespace

ListScheduler::ListScheduler(Source source, size_t window, bool keep_going,
                             const std::atomic<bool>* interrupted)
    : source_(std::move(source)),
      window_limit_(std::max<size_t>(window, 1)),
      keep_going_(keep_going),
      interrupted_(interrupted) {}

bool ListScheduler::Conflict(const Slot& a, const Slot& b) {
  return a.save_key == b.save_key || a.source_key == b.save_key || a.save_key == b.source_key;
}

bool ListScheduler::Conflict(const ListEntry& a, const ListEntry& b) {
  return Conflict(Slot{a, Key(a.path), Key(a.save_name)}, Slot{b, Key(b.path), Key(b.save_name)});
}

bool ListScheduler::StoppedLocked() const {
  return read_error_ != nullptr || (interrupted_ != nullptr && interrupted_->load());
}

std::optional<size_t> ListScheduler::StartableLocked() const {
  for (size_t i = 0; i < window_.size(); ++i) {
    const Slot& slot = window_[i];
    if (slot.running) continue;
    // The window is in list order: nothing after this one may start either.
    if (slot.entry.number >= limit_) return std::nullopt;
    bool held = false;
    for (size_t j = 0; j < i && !held; ++j) held = Conflict(window_[j], slot);
    if (!held) return i;
  }
  return std::nullopt;
}

std::optional<ListEntry> ListScheduler::Next() {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (StoppedLocked()) return std::nullopt;
    if (const std::optional<size_t> i = StartableLocked()) {
      window_[*i].running = true;
      ++running_;
      return window_[*i].entry;
    }
    // Entries after a failure would not start: the list is read no further.
    const bool more = !ended_ && read_ + 1 < limit_;
    if (more && !reading_ && window_.size() < window_limit_) {
      reading_ = true;
      lock.unlock();
      std::optional<Slot> slot;
      std::exception_ptr error;
      try {
        if (std::optional<ListEntry> entry = source_())
          slot = Slot{*entry, Key(entry->path), Key(entry->save_name)};
      } catch (...) {
        error = std::current_exception();
      }
      lock.lock();
      reading_ = false;
      if (error)
        read_error_ = error;
      else if (!slot)
        ended_ = true;
      else {
        window_.push_back(std::move(*slot));
        ++read_;
      }
      changed_.notify_all();
      continue;
    }
    // Nothing is left that could ever start: no entry waits before the
    // limit, and none is to be read.
    bool waiting = false;
    for (const Slot& slot : window_)
      waiting = waiting || (!slot.running && slot.entry.number < limit_);
    if (!waiting && !more && !reading_) return std::nullopt;
    // Nothing runs and nothing is being read: nothing will change.
    if (running_ == 0 && !reading_ && !(more && window_.size() < window_limit_))
      return std::nullopt;
    changed_.wait(lock);
  }
}

void ListScheduler::Finish(size_t number, bool failed) {
  {
    std::lock_guard lock(mutex_);
    --running_;
    if (failed && !keep_going_) limit_ = std::min(limit_, number);
    for (auto it = window_.begin(); it != window_.end(); ++it)
      if (it->entry.number == number) {
        window_.erase(it);
        break;
      }
  }
  changed_.notify_all();
}

void ListScheduler::Wake() {
  { std::lock_guard lock(mutex_); }
  changed_.notify_all();
}

size_t ListScheduler::EntriesRead() {
  std::lock_guard lock(mutex_);
  return read_;
}

bool ListScheduler::ListEnded() {
  std::lock_guard lock(mutex_);
  return ended_;
}

std::exception_ptr ListScheduler::ReadError() {
  std::lock_guard lock(mutex_);
  return read_error_;
}

}  // namespace kevrale::cli

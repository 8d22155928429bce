#include "cli/ListScheduler.h"

#include <filesystem>
#include <numeric>
#include <string>
#include <unordered_map>

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

size_t Root(std::vector<size_t>& parent, size_t i) {
  while (parent[i] != i) i = parent[i] = parent[parent[i]];
  return i;
}

}  // namespace

std::vector<size_t> ListScheduler::Groups(const std::vector<ListEntry>& entries) {
  std::vector<size_t> parent(entries.size());
  std::iota(parent.begin(), parent.end(), size_t(0));
  const auto join = [&](size_t a, size_t b) {
    a = Root(parent, a);
    b = Root(parent, b);
    if (a != b) parent[std::max(a, b)] = std::min(a, b);
  };
  std::unordered_map<std::string, size_t> writer;  // save name -> first entry saving there
  for (size_t i = 0; i < entries.size(); ++i) {
    const auto [it, inserted] = writer.emplace(Key(entries[i].save_name), i);
    if (!inserted) join(it->second, i);
  }
  for (size_t i = 0; i < entries.size(); ++i) {
    const auto it = writer.find(Key(entries[i].path));
    if (it != writer.end()) join(it->second, i);
  }
  // Number the groups 0, 1, ... in the order of their first entries.
  std::vector<size_t> group(entries.size());
  std::unordered_map<size_t, size_t> number;
  for (size_t i = 0; i < entries.size(); ++i)
    group[i] = number.emplace(Root(parent, i), number.size()).first->second;
  return group;
}

ListScheduler::ListScheduler(const std::vector<ListEntry>& entries, bool keep_going,
                             const std::atomic<bool>* interrupted)
    : keep_going_(keep_going),
      interrupted_(interrupted),
      group_of_(Groups(entries)),
      limit_(entries.size()) {
  for (size_t i = 0; i < entries.size(); ++i) {
    if (group_of_[i] == members_.size()) members_.emplace_back();
    members_[group_of_[i]].push_back(i);
  }
  next_member_.assign(members_.size(), 0);
  for (const auto& m : members_) ready_.push(m.front());
}

bool ListScheduler::Startable() const {
  return !ready_.empty() && ready_.top() < limit_;
}

std::optional<size_t> ListScheduler::Next() {
  std::unique_lock lock(mutex_);
  const auto stopped = [this] { return interrupted_ && interrupted_->load(); };
  // A running entry may still release a waiting one of its group.
  changed_.wait(lock, [&] { return stopped() || Startable() || running_ == 0; });
  if (stopped() || !Startable()) return std::nullopt;
  const size_t index = ready_.top();
  ready_.pop();
  ++running_;
  return index;
}

void ListScheduler::Finish(size_t index, bool failed) {
  {
    std::lock_guard lock(mutex_);
    --running_;
    if (failed && !keep_going_) limit_ = std::min(limit_, index);
    const size_t group = group_of_[index];
    if (++next_member_[group] < members_[group].size())
      ready_.push(members_[group][next_member_[group]]);
  }
  changed_.notify_all();
}

}  // namespace kevrale::cli

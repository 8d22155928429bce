// What a plug-in answered when it was first loaded, kept on disk per
// plug-in file, so that a later start lists its formats without starting
// its process (or Wine), and a plug-in that hung or crashed while it was
// asked costs one start, not every start. An entry holds for the file it
// was made of: the same path, size, modification time, device and inode;
// any change of the file makes it stale.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kevrale {

// One GetPluginInfo call and its answer: the result and the text the
// plug-in stored (up to its first NUL).
struct PluginInfoAnswer {
  int32_t InfoNo = 0;
  int32_t BufLen = 0;
  int32_t Result = 0;
  std::string Text;

  bool operator==(const PluginInfoAnswer&) const = default;
};

struct PluginInfoRecord {
  uint32_t Exports = 0;  // SpiEntry bits
  std::vector<PluginInfoAnswer> Answers;
  // Non-empty: the plug-in hung or crashed while it was asked, and this is
  // the message that said so; it is not started again.
  std::string Failure;

  bool operator==(const PluginInfoRecord&) const = default;
};

class PluginInfoCache {
 public:
  // Entries live in `folder`/plugin-info; an empty folder caches nothing.
  explicit PluginInfoCache(std::string folder) : folder_(std::move(folder)) {}

  // $XDG_CACHE_HOME/kevrale, or ~/.cache/kevrale; empty when neither says
  // where the user's cache lives.
  static std::string DefaultFolder();

  // The record of `plugin_file` when one was stored for the file as it is
  // now; nothing for a missing, stale or unreadable entry.
  std::optional<PluginInfoRecord> Find(const std::string& plugin_file) const;
  // Stores the record for the file as it is now. A cache that cannot be
  // written is no error: the next start asks the plug-in again.
  void Store(const std::string& plugin_file, const PluginInfoRecord& record) const;

  // The file that holds the entry of `plugin_file`.
  std::string EntryPath(const std::string& plugin_file) const;

 private:
  std::string folder_;
};

}  // namespace kevrale

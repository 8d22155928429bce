#include "cli/ListRun.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <exception>
#include <optional>
#include <thread>

#include "batch/BatchRun.h"
#include "batch/ListFileReader.h"
#include "batch/SaveName.h"
#include "cli/ImageRun.h"
#include "cli/ListScheduler.h"
#include "cli/Progress.h"
#include "picture/TPicture.h"
#include "platform/Exception.h"

namespace kevrale::cli {

namespace {

std::atomic<bool> g_interrupted{false};

extern "C" void OnInterrupt(int) {
  g_interrupted.store(true);
}

// Lets a first SIGINT or SIGTERM end the run after the running entries
// (no half-written result is left as a file); a second one ends the
// process at once, as the handler resets itself.
class InterruptGuard {
 public:
  InterruptGuard() {
    g_interrupted.store(false);
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &old_int_);
    ::sigaction(SIGTERM, &action, &old_term_);
  }
  ~InterruptGuard() {
    ::sigaction(SIGINT, &old_int_, nullptr);
    ::sigaction(SIGTERM, &old_term_, nullptr);
  }
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

 private:
  struct sigaction old_int_ {};
  struct sigaction old_term_ {};
};

std::string Where(const ListEntry& e) {
  return "entry " + std::to_string(e.number) + ", line " + std::to_string(e.line);
}

// Thins one entry in a picture of its own; returns the failure, or nothing.
std::optional<std::string> RunEntry(const ListEntry& entry, const Options& options,
                                    Progress& progress) {
  ThinningHooks hooks;
  // A picture too wide for the engine is saved unchanged (no spur is cut
  // either), as in the desktop batch; the user learns of it from a note.
  Options save_options = options;
  hooks.ShowMessage = [&](const std::string& text) {
    save_options.prune = 0;
    progress.Note("kevrale-thin: " + Where(entry) + ": " + entry.path + ": " + text);
  };
  try {
    TPicture picture;
    LoadAndThinEntry(entry.path, picture, options.target, options.surround, hooks, options.thinning,
                     ThinnableLimits());
    PruneAndSave(picture, options.target, save_options, entry.save_name);
    return std::nullopt;
  } catch (const std::exception& e) {
    return DescribeError(e);
  } catch (...) {
    return std::string("unknown error");
  }
}

}  // namespace

std::vector<ListEntry> ReadListEntries(const std::string& list_path, OutputFormat format) {
  std::vector<ListEntry> entries;
  ListFileReader reader(list_path);
  while (!reader.Eof()) {
    ListEntry e;
    const std::string line = reader.ReadLine();
    e.number = entries.size() + 1;
    e.line = reader.LineNumber();
    e.path = ResolveEntry(list_path, line);
    e.save_name = SaveNameFor(e.path, SaveExtension(format));
    entries.push_back(std::move(e));
  }
  return entries;
}

ListRunResult RunListEntries(const std::vector<ListEntry>& entries, const Options& options,
                             FILE* progress_out, bool terminal) {
  ListScheduler scheduler(entries, options.keep_going, &g_interrupted);
  std::vector<std::optional<std::string>> failure(entries.size());
  std::vector<char> saved(entries.size(), 0);
  Progress progress(progress_out, entries.size(), terminal);

  const auto work = [&] {
    while (const std::optional<size_t> index = scheduler.Next()) {
      const ListEntry& entry = entries[*index];
      progress.Started(entry.number, entry.path);
      failure[*index] = RunEntry(entry, options, progress);
      saved[*index] = !failure[*index];
      progress.Finished(entry.number, entry.path, failure[*index].value_or(""));
      scheduler.Finish(*index, failure[*index].has_value());
    }
  };
  const size_t workers =
      std::max<size_t>(1, std::min<size_t>(size_t(options.jobs), entries.size()));
  std::vector<std::thread> threads;
  for (size_t i = 1; i < workers; ++i) threads.emplace_back(work);
  work();
  for (auto& t : threads) t.join();
  progress.Done();

  ListRunResult result;
  result.interrupted = g_interrupted.load();
  for (size_t i = 0; i < entries.size(); ++i) {
    result.finished += saved[i];
    if (failure[i]) {
      result.failures.push_back({entries[i], *failure[i]});
      if (!options.keep_going) break;
    }
  }
  return result;
}

int RunListMode(const Options& options) {
  const std::string& list = *options.list;
  std::vector<ListEntry> entries;
  try {
    entries = ReadListEntries(list, ResultFormat(options));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kevrale-thin: %s: %s\n", list.c_str(), e.what());
    return 1;
  }

  ListRunResult result;
  {
    InterruptGuard guard;
    result = RunListEntries(entries, options, stderr, ::isatty(STDERR_FILENO) == 1);
  }

  if (options.keep_going && !result.failures.empty())
    std::fprintf(stderr, "kevrale-thin: %zu of %zu entries failed:\n", result.failures.size(),
                 entries.size());
  for (const EntryFailure& f : result.failures)
    std::fprintf(stderr, "kevrale-thin: %s: %s: %s\n", Where(f.entry).c_str(), f.entry.path.c_str(),
                 ForTerminal(f.message).c_str());
  if (result.interrupted) {
    std::fprintf(stderr, "kevrale-thin: interrupted; %zu of %zu entries done\n", result.finished,
                 entries.size());
    return 130;
  }
  return result.failures.empty() ? 0 : 1;
}

}  // namespace kevrale::cli

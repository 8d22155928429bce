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
#include "cli/TerminalText.h"

namespace kevrale::cli {

namespace {

std::atomic<bool> g_interrupted{false};
// The actions that the guard replaced, which a first signal puts back.
struct sigaction g_previous_int {};
struct sigaction g_previous_term {};

extern "C" void OnInterrupt(int signal_number) {
  g_interrupted.store(true);
  // A second signal meets the action from before the run: the default one,
  // or the handler that removes temporary files and then ends the process.
  ::sigaction(signal_number, signal_number == SIGINT ? &g_previous_int : &g_previous_term, nullptr);
}

// Lets a first SIGINT or SIGTERM end the run after the running entries
// (no half-written result is left as a file); a second one ends the
// process at once.
class InterruptGuard {
 public:
  InterruptGuard() {
    g_interrupted.store(false);
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &g_previous_int);
    ::sigaction(SIGTERM, &action, &g_previous_term);
  }
  ~InterruptGuard() {
    ::sigaction(SIGINT, &g_previous_int, nullptr);
    ::sigaction(SIGTERM, &g_previous_term, nullptr);
  }
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;
};

std::string Where(const ListEntry& e) {
  return "entry " + std::to_string(e.number) + ", line " + std::to_string(e.line);
}

// Thins one entry in a picture of its own, as a single image is thinned:
// a picture too wide for the engine fails and nothing is written for it.
// Returns the failure as the terminal shows it, or nothing.
std::optional<std::string> RunEntry(const ListEntry& entry, const Options& options) {
  try {
    CheckEntryName(entry.path);
    ThinImageFile(entry.path, entry.save_name, options);
    return std::nullopt;
  } catch (const std::exception& e) {
    return ErrorText(e, {entry.path, entry.save_name});
  } catch (...) {
    return std::string("unknown error");
  }
}

}  // namespace

std::vector<ListEntry> ReadListEntries(const std::string& list_path, TImageFileFormat format) {
  std::vector<ListEntry> entries;
  ListFileReader reader(list_path, kMaxListLineLength);
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
      failure[*index] = RunEntry(entry, options);
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
    std::fprintf(stderr, "kevrale-thin: %s: %s\n", Printable(list).c_str(),
                 ErrorText(e, {list}).c_str());
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
    std::fprintf(stderr, "kevrale-thin: %s: %s: %s\n", Where(f.entry).c_str(),
                 Printable(f.entry.path).c_str(), f.message.c_str());
  if (result.interrupted) {
    std::fprintf(stderr, "kevrale-thin: interrupted; %zu of %zu entries done\n", result.finished,
                 entries.size());
    return 130;
  }
  return result.failures.empty() ? 0 : 1;
}

}  // namespace kevrale::cli

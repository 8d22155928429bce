#include "cli/ListRun.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <exception>
#include <map>
#include <mutex>
#include <thread>

#include "batch/BatchRun.h"
#include "batch/ListFileReader.h"
#include "batch/SaveName.h"
#include "cli/ImageRun.h"
#include "cli/ListScheduler.h"
#include "cli/Progress.h"
#include "cli/TerminalText.h"
#include "ipc/PluginProcessGroups.h"

namespace kevrale::cli {

namespace {

std::atomic<bool> g_interrupted{false};
// The write end of the pipe that tells the watcher of an interruption.
std::atomic<int> g_interrupt_pipe{-1};
// The actions that the guard replaced, which a first signal puts back.
struct sigaction g_previous_int {};
struct sigaction g_previous_term {};

extern "C" void OnInterrupt(int signal_number) {
  g_interrupted.store(true);
  const int saved_errno = errno;
  if (const int fd = g_interrupt_pipe.load(); fd >= 0) static_cast<void>(::write(fd, "i", 1));
  errno = saved_errno;
  // A second signal meets the action from before the run: the default one,
  // or the handler that removes temporary files and then ends the process.
  ::sigaction(signal_number, signal_number == SIGINT ? &g_previous_int : &g_previous_term, nullptr);
}

// Lets a first SIGINT or SIGTERM end the run after the running entries
// (no half-written result is left as a file); a second one ends the
// process at once. The first one also ends every plug-in process at once,
// so that an entry waiting for a plug-in that hangs ends now rather than at
// the plug-in's time limit; `on_interrupt` is called then, on a thread of
// the guard's own (a signal handler may do neither).
class InterruptGuard {
 public:
  explicit InterruptGuard(std::function<void()> on_interrupt) {
    g_interrupted.store(false);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) == 0) {
      read_end_ = fds[0];
      write_end_ = fds[1];
      g_interrupt_pipe.store(write_end_);
      watcher_ = std::thread([this, on_interrupt = std::move(on_interrupt)] {
        char byte = 0;
        while (::read(read_end_, &byte, 1) < 0 && errno == EINTR) {
        }
        if (byte == 'i') {
          EndPluginProcessesNow();
          on_interrupt();
        }
      });
    }
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &g_previous_int);
    ::sigaction(SIGTERM, &action, &g_previous_term);
  }
  ~InterruptGuard() {
    ::sigaction(SIGINT, &g_previous_int, nullptr);
    ::sigaction(SIGTERM, &g_previous_term, nullptr);
    g_interrupt_pipe.store(-1);
    if (watcher_.joinable()) {
      static_cast<void>(::write(write_end_, "q", 1));
      watcher_.join();
    }
    if (read_end_ >= 0) ::close(read_end_);
    if (write_end_ >= 0) ::close(write_end_);
  }
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

 private:
  int read_end_ = -1;
  int write_end_ = -1;
  std::thread watcher_;
};

// Thins one entry in a picture of its own, as a single image is thinned:
// a picture too wide for the engine fails and nothing is written for it.
// Returns the failure as the terminal shows it, or nothing.
std::optional<std::string> RunEntry(const ListEntry& entry, const Options& options) {
  // An empty line is a failing entry, as the desktop batch has it.
  if (entry.path.empty()) return "line " + std::to_string(entry.line) + " is empty";
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

// The line of the report for a failed entry.
std::string FailureLine(const EntryFailure& f) {
  if (f.entry.path.empty()) return "entry " + std::to_string(f.entry.number) + ": " + f.message;
  return "entry " + std::to_string(f.entry.number) + ", line " + std::to_string(f.entry.line) +
         ": " + NamedText(f.entry.path, f.message);
}

// The name that the progress shows for an entry.
std::string ShownName(const ListEntry& entry) {
  return entry.path.empty() ? "(line " + std::to_string(entry.line) + " is empty)" : entry.path;
}

// The number of entries of a list that is a file, read through once, so
// that the progress knows it and a line that cannot be read is refused
// before any entry runs; nothing for a pipe or a device, which can be read
// only once.
std::optional<size_t> CountEntries(const std::string& list_path, TImageFileFormat format) {
  struct stat st;
  if (::stat(list_path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  ListEntryReader reader(list_path, format);
  size_t count = 0;
  while (reader.Next()) ++count;
  return count;
}

}  // namespace

ListEntryReader::ListEntryReader(const std::string& list_path, TImageFileFormat format)
    : list_path_(list_path),
      format_(format),
      reader_(std::make_unique<ListFileReader>(list_path, kMaxListLineLength)) {}

ListEntryReader::~ListEntryReader() = default;

std::optional<ListEntry> ListEntryReader::Next() {
  if (reader_->Eof()) return std::nullopt;
  ListEntry e;
  const std::string line = reader_->ReadLine();
  e.number = ++read_;
  e.line = reader_->LineNumber();
  e.path = ResolveEntry(list_path_, line);
  e.save_name = SaveNameFor(e.path, SaveExtension(format_));
  return e;
}

ListRunResult RunListEntries(const std::function<std::optional<ListEntry>()>& next,
                             std::optional<size_t> total, const Options& options,
                             FILE* progress_out, bool terminal) {
  size_t workers = size_t(std::max(1, options.jobs));
  if (total) workers = std::max<size_t>(1, std::min(workers, *total));
  // Room for every worker's entry and as many waiting, so that an entry
  // held back by a running one does not keep the others idle.
  ListScheduler scheduler(next, 2 * workers, options.keep_going, &g_interrupted);
  Progress progress(progress_out, total.value_or(Progress::kUnknownTotal), terminal);
  std::mutex mutex;
  std::map<size_t, EntryFailure> failures;  // by entry number
  std::atomic<size_t> finished{0};

  const auto work = [&] {
    while (const std::optional<ListEntry> entry = scheduler.Next()) {
      progress.Started(entry->number, ShownName(*entry));
      const std::optional<std::string> failure = RunEntry(*entry, options);
      progress.Finished(entry->number, ShownName(*entry), failure.value_or(""));
      if (!failure) {
        ++finished;
      } else if (!g_interrupted.load()) {
        // (An entry that fails once the run is interrupted was cut short:
        // its plug-in was ended. It is not done, and no failure of its own.)
        std::lock_guard lock(mutex);
        failures.emplace(entry->number, EntryFailure{*entry, *failure});
      }
      scheduler.Finish(entry->number, failure.has_value());
    }
  };
  {
    InterruptGuard guard([&scheduler] { scheduler.Wake(); });
    std::vector<std::thread> threads;
    for (size_t i = 1; i < workers; ++i) threads.emplace_back(work);
    work();
    for (auto& t : threads) t.join();
  }
  progress.Done();

  ListRunResult result;
  result.interrupted = g_interrupted.load();
  result.finished = finished.load();
  result.read = scheduler.EntriesRead();
  result.list_error = scheduler.ReadError();
  for (auto& [number, failure] : failures) {
    result.failures.push_back(std::move(failure));
    if (!options.keep_going) break;
  }
  return result;
}

int RunListMode(const Options& options) {
  const std::string& list = *options.list;
  const auto list_error = [&list](const std::exception& e) {
    std::fprintf(stderr, "kevrale-thin: %s\n", NamedText(list, ErrorText(e, {list})).c_str());
  };
  std::optional<size_t> total;
  std::unique_ptr<ListEntryReader> reader;
  try {
    total = CountEntries(list, ResultFormat(options));
    reader = std::make_unique<ListEntryReader>(list, ResultFormat(options));
  } catch (const std::exception& e) {
    list_error(e);
    return 1;
  }

  const ListRunResult result = RunListEntries([&reader] { return reader->Next(); }, total, options,
                                              stderr, ::isatty(STDERR_FILENO) == 1);

  if (options.keep_going && !result.failures.empty())
    std::fprintf(stderr, "kevrale-thin: %zu of %zu entries failed:\n", result.failures.size(),
                 result.read);
  for (const EntryFailure& f : result.failures)
    std::fprintf(stderr, "kevrale-thin: %s\n", FailureLine(f).c_str());
  if (result.list_error) {
    try {
      std::rethrow_exception(result.list_error);
    } catch (const std::exception& e) {
      list_error(e);
    }
  }
  if (result.interrupted) {
    if (total)
      std::fprintf(stderr, "kevrale-thin: interrupted; %zu of %zu entries done\n", result.finished,
                   *total);
    else
      std::fprintf(stderr, "kevrale-thin: interrupted; %zu of the %zu entries read done\n",
                   result.finished, result.read);
    return 130;
  }
  return result.failures.empty() && !result.list_error ? 0 : 1;
}

}  // namespace kevrale::cli

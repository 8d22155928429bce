// The list mode of kevrale-thin: the batch run of a list file, headless,
// with a progress display, an optional keep-going mode and parallel jobs.
// The list is read as the workers need its entries, so that a list without
// end (`yes a.bmp`) starts at once and memory stays bounded by the number
// of workers.
#pragma once

#include <cstdio>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/ListEntry.h"
#include "cli/Options.h"

namespace kevrale {
class ListFileReader;
}

namespace kevrale::cli {

// The longest line a list may have, in bytes; a longer one is refused.
constexpr size_t kMaxListLineLength = 64 * 1024;

// The entries of a list file, one at a time: relative ones resolved against
// its folder, each with its save name ("_s." and the format's extension).
class ListEntryReader {
 public:
  // Raises EInOutError for a list file that cannot be opened.
  explicit ListEntryReader(const std::string& list_path,
                           TImageFileFormat format = TImageFileFormat::Bmp);
  ~ListEntryReader();
  ListEntryReader(const ListEntryReader&) = delete;
  ListEntryReader& operator=(const ListEntryReader&) = delete;

  // The next entry; nullopt at the end of the list. Raises EInOutError for
  // a list that cannot be read, EListLineTooLong for a line longer than
  // kMaxListLineLength.
  std::optional<ListEntry> Next();

 private:
  std::string list_path_;
  TImageFileFormat format_;
  std::unique_ptr<ListFileReader> reader_;
  size_t read_ = 0;
};

// An entry that failed and its message, as the terminal shows it.
struct EntryFailure {
  ListEntry entry;
  std::string message;
};

struct ListRunResult {
  size_t finished = 0;                 // entries that were saved
  size_t read = 0;                     // entries read from the list
  std::vector<EntryFailure> failures;  // in list order
  bool interrupted = false;            // stopped by SIGINT or SIGTERM
  std::exception_ptr list_error;       // the list could not be read on
};

// Runs the entries that `next` gives with options.jobs workers, each as a
// single image is run: a picture too wide to thin fails. Without
// keep_going no entry after the first failure in list order starts, and
// the failures hold that one only (entries that ran beside it and failed
// later in the list are not reported). Progress goes to `progress_out`;
// `total` is the number of entries when it is known beforehand. An
// exception of `next` (a list that cannot be read on) starts no further
// entry; it is kept in the result once the running entries have ended.
ListRunResult RunListEntries(const std::function<std::optional<ListEntry>()>& next,
                             std::optional<size_t> total, const Options& options,
                             FILE* progress_out, bool terminal);

// The whole list mode: reads the list, runs it, reports on stderr. Returns
// the exit status: 0 when every entry was done, 1 when the list or any
// entry failed, 130 when interrupted.
int RunListMode(const Options& options);

}  // namespace kevrale::cli

// The list mode of kevrale-thin: the batch run of a list file, headless,
// with a progress display, an optional keep-going mode and parallel jobs.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "cli/ListEntry.h"
#include "cli/Options.h"

namespace kevrale::cli {

// The longest line a list may have, in bytes; a longer one is refused.
constexpr size_t kMaxListLineLength = 64 * 1024;

// Every entry of the list file, relative ones resolved against its folder,
// with its save name ("_s." and the format's extension). Raises EInOutError
// for a list file that cannot be read, EListLineTooLong for a line longer
// than kMaxListLineLength.
std::vector<ListEntry> ReadListEntries(const std::string& list_path,
                                       TImageFileFormat format = TImageFileFormat::Bmp);

// An entry that failed and its message, as the terminal shows it.
struct EntryFailure {
  ListEntry entry;
  std::string message;
};

struct ListRunResult {
  size_t finished = 0;                 // entries that were saved
  std::vector<EntryFailure> failures;  // in list order
  bool interrupted = false;            // stopped by SIGINT or SIGTERM
};

// Runs the entries with options.jobs workers, each as a single image is
// run: a picture too wide to thin fails. Without keep_going no entry
// after the first failure in list order starts, and the failures hold that
// one only (entries that ran beside it and failed later in the list are
// not reported). Progress goes to `progress_out`.
ListRunResult RunListEntries(const std::vector<ListEntry>& entries, const Options& options,
                             FILE* progress_out, bool terminal);

// The whole list mode: reads the list, runs it, reports on stderr. Returns
// the exit status: 0 when every entry was done, 1 when the list or any
// entry failed, 130 when interrupted.
int RunListMode(const Options& options);

}  // namespace kevrale::cli

// The batch run: every image named in a list file is loaded into the
// picture, thinned as by the run command and saved under its save name.
#pragma once

#include <functional>
#include <string>

#include "picture/TGraphic.h"
#include "platform/Color.h"
#include "thinning/ThinningEngine.h"

namespace kevrale {

class TPicture;

// The text that the front ends show for a picture too wide to thin
// (ThinningResult::TooWide).
extern const char* const kThinningWidthMessage;

// Tells the user that an entry is too wide to thin; the entry is saved,
// unchanged, once it returns.
using TooWideEvent = std::function<void()>;

// Runs the list file at list_path. Relative entries resolve against the
// folder of the list file. Stops at the first failure by letting its
// exception go on (the entries before it keep their saved results, nothing
// is saved for the failing one). List-file errors raise EInOutError with the
// run-time library's texts ("File not found", ...). Returns normally when
// every entry was done; the caller then shows "終了しました".
// Every entry is thinned with the same options; `too_wide` hears of each
// one too wide to thin.
void RunBatch(const std::string& list_path, TPicture& picture, TColor target, TColor surround,
              const TooWideEvent& too_wide, const ThinningOptions& options = {});

// An entry as the batch uses it: absolute entries and the empty entry stay
// as they are; a relative one is put behind the folder of the list file.
std::string ResolveEntry(const std::string& list_path, const std::string& entry);

// Raises EInOutError 3 "Invalid filename" for an entry that holds a NUL
// byte: it names no file (the system calls would stop at the NUL and read,
// then overwrite, a different file than the one named).
void CheckEntryName(const std::string& path);

// One entry of a batch, its path already resolved: load, thin, save under
// SaveNameFor(path). An entry holding a NUL byte names no file and raises
// EInOutError 3 "Invalid filename" before anything is read or written.
void RunBatchEntry(const std::string& path, TPicture& picture, TColor target, TColor surround,
                   const TooWideEvent& too_wide, const ThinningOptions& options = {});

// RunBatchEntry up to the save: the check of the path, the load (which
// `limits` may refuse before decoding) and the run, whose result it gives.
ThinningResult LoadAndThinEntry(const std::string& path, TPicture& picture, TColor target,
                                TColor surround, const ThinningOptions& options = {},
                                const TLoadLimits& limits = {});

}  // namespace kevrale

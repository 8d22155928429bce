// The batch run: every image named in a list file is loaded into the
// picture, thinned as by the run command and saved under its save name.
#pragma once

#include <string>

#include "platform/Color.h"
#include "thinning/ThinningEngine.h"

namespace kevrale {

class TPicture;

// Runs the list file at list_path. Relative entries resolve against the
// folder of the list file. Stops at the first failure by letting its
// exception go on (the entries before it keep their saved results, nothing
// is saved for the failing one). List-file errors raise EInOutError with the
// run-time library's texts ("File not found", ...). Returns normally when
// every entry was done; the caller then shows "終了しました".
void RunBatch(const std::string& list_path, TPicture& picture, TColor target, TColor surround,
              const ThinningHooks& hooks);

}  // namespace kevrale

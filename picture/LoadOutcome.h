// Why a load failed: each reader that was tried and what it answered. The
// user is shown one message where the program has one text for all of
// them ("Susie Plugins could not decode"); the reasons stay with the error
// for the command line, the warnings and the tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Exception.h"

namespace kevrale {

enum class LoadFailure {
  CannotOpen,     // the file could not be opened or read
  NotThisFormat,  // the reader does not take the data
  BrokenData,     // the reader took the data, but it is broken
  Aborted,        // the progress listener stopped the reader
  OutOfMemory,    // the reader ran out of memory
  PluginResult,   // a plug-in failed with another result code
  // A plug-in in a process of its own whose process failed; the detail says
  // how ("signal 11: ...", the time limit, why it did not start).
  PluginCrashed,     // the process ended in the middle of a call
  PluginNoAnswer,    // the process gave no answer within the time limit
  PluginNotStarted,  // the process could not be started, or the plug-in not loaded
};

// One reader's answer. `Reader` names it: "BMP" for the program's own
// reader, the plug-in's file name otherwise.
struct LoadAttempt {
  std::string Reader;
  LoadFailure Failure = LoadFailure::NotThisFormat;
  int32_t ResultCode = 0;  // the plug-in's result, for plug-in attempts
  std::string Detail;      // the system's reason, the guard that refused, ...
  int ErrorNumber = 0;     // the system's error number, where it gave one
};

struct LoadOutcome {
  std::vector<LoadAttempt> Attempts;

  void Add(LoadAttempt attempt) { Attempts.push_back(std::move(attempt)); }
  void Append(const LoadOutcome& other) {
    Attempts.insert(Attempts.end(), other.Attempts.begin(), other.Attempts.end());
  }
  // One line: "reader: reason; reader: reason".
  std::string Text() const;
};

// The text of a failure kind ("cannot open", "not this format", ...).
const char* LoadFailureText(LoadFailure failure);

// A picture wider than a load allowed (TLoadLimits), refused before its
// pixels were decoded. It is no answer of a reader: it ends the load.
KEVRALE_DECLARE_EXCEPTION(EPictureTooWide, Exception);

// No reader decoded the data: EInvalidGraphic with the one message and
// every reader's answer.
class EDecodeFailed : public EInvalidGraphic {
 public:
  EDecodeFailed(std::string message, LoadOutcome outcome)
      : EInvalidGraphic(std::move(message)), outcome_(std::move(outcome)) {}
  const char* ClassName() const noexcept override { return "EInvalidGraphic"; }
  const LoadOutcome& Outcome() const noexcept { return outcome_; }

 private:
  LoadOutcome outcome_;
};

}  // namespace kevrale

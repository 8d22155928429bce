// Named temporary files that must not outlive the process. A save that
// needs a named temporary file registers its name for as long as the file
// may exist; SIGINT, SIGTERM, SIGHUP, SIGQUIT or SIGPIPE then remove every registered file
// before the process ends as the signal would have ended it.
#pragma once

#include <memory>
#include <string>

namespace kevrale {

// Installs, once per process, the handler that removes the registered
// files, for each of SIGINT, SIGTERM, SIGHUP, SIGQUIT and SIGPIPE whose action is still the
// default one (an ignored signal stays ignored, a handler of the program's
// own stays). Call it before installing handlers that hand a signal back
// to the previous action, so that theirs chains to this one.
void InstallTemporaryFileCleanup();

// The name of a temporary file, registered from construction (before the
// file is made, so that no moment leaves it unregistered) to destruction.
// Registering never fails the save: when the fixed table of names is full
// the file simply goes unregistered.
class TemporaryFileName {
 public:
  explicit TemporaryFileName(const std::string& path);
  ~TemporaryFileName();
  TemporaryFileName(const TemporaryFileName&) = delete;
  TemporaryFileName& operator=(const TemporaryFileName&) = delete;

  const char* Path() const { return path_.get(); }
  // Whether a signal would remove the file.
  bool Registered() const { return slot_ >= 0; }

 private:
  std::unique_ptr<char[]> path_;
  int slot_ = -1;
};

}  // namespace kevrale

#include "batch/BatchRun.h"

#include "batch/ListFileError.h"
#include "batch/ListFileReader.h"
#include "batch/SaveName.h"
#include "picture/TPicture.h"
#include "platform/FileName.h"

namespace kevrale {

namespace {

// Puts the default cursor back however the batch ends.
class DefaultCursorAtExit {
 public:
  explicit DefaultCursorAtExit(const ThinningHooks& hooks) : hooks_(hooks) {}
  ~DefaultCursorAtExit() {
    if (hooks_.SetCursor) hooks_.SetCursor(crDefault);
  }
  DefaultCursorAtExit(const DefaultCursorAtExit&) = delete;
  DefaultCursorAtExit& operator=(const DefaultCursorAtExit&) = delete;

 private:
  const ThinningHooks& hooks_;
};

}  // namespace

std::string ResolveEntry(const std::string& list_path, const std::string& entry) {
  if (entry.empty() || entry.front() == '/') return entry;
  // A list in the current folder has an empty folder part.
  return std::string(ExtractFilePath(list_path)) + entry;
}

void CheckEntryName(const std::string& path) {
  if (path.find('\0') != std::string::npos) throw InOutErrorOf(kIoInvalidFilename);
}

void RunBatchEntry(const std::string& path, TPicture& picture, TColor target, TColor surround,
                   const ThinningHooks& hooks) {
  CheckEntryName(path);
  picture.LoadFromFile(path);
  RunThinning(picture, target, surround, hooks);
  picture.SaveToFile(SaveNameFor(path));
}

void RunBatch(const std::string& list_path, TPicture& picture, TColor target, TColor surround,
              const ThinningHooks& hooks) {
  DefaultCursorAtExit cursor(hooks);
  if (hooks.SetCursor) hooks.SetCursor(crHourGlass);
  ListFileReader reader(list_path);
  while (!reader.Eof()) {
    const std::string entry = reader.ReadLine();
    RunBatchEntry(ResolveEntry(list_path, entry), picture, target, surround, hooks);
  }
}

}  // namespace kevrale

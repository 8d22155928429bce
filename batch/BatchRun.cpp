#include "batch/BatchRun.h"

#include "batch/ListFileError.h"
#include "batch/ListFileReader.h"
#include "batch/SaveName.h"
#include "picture/TPicture.h"
#include "platform/FileName.h"

namespace kevrale {

std::string ResolveEntry(const std::string& list_path, const std::string& entry) {
  if (entry.empty() || entry.front() == '/') return entry;
  // A list in the current folder has an empty folder part.
  return std::string(ExtractFilePath(list_path)) + entry;
}

void CheckEntryName(const std::string& path) {
  // The system calls would stop at the NUL and read, then overwrite, a
  // different file than the one named.
  if (path.find('\0') != std::string::npos) throw InOutErrorOf(kIoInvalidFilename);
}

void LoadAndThinEntry(const std::string& path, TPicture& picture, TColor target, TColor surround,
                      const ThinningHooks& hooks, const ThinningOptions& options,
                      const TLoadLimits& limits) {
  CheckEntryName(path);
  picture.LoadFromFile(path, limits);
  RunThinning(picture, target, surround, hooks, options);
}

void RunBatchEntry(const std::string& path, TPicture& picture, TColor target, TColor surround,
                   const ThinningHooks& hooks, const ThinningOptions& options) {
  LoadAndThinEntry(path, picture, target, surround, hooks, options);
  picture.SaveToFile(SaveNameFor(path));
}

void RunBatch(const std::string& list_path, TPicture& picture, TColor target, TColor surround,
              const ThinningHooks& hooks, const ThinningOptions& options) {
  const BusyCursorScope busy(hooks);
  ListFileReader reader(list_path);
  while (!reader.Eof()) {
    const std::string entry = reader.ReadLine();
    RunBatchEntry(ResolveEntry(list_path, entry), picture, target, surround, hooks, options);
  }
}

}  // namespace kevrale

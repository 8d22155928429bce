#include "batch/BatchRun.h"

#include "batch/ListFileError.h"
#include "batch/ListFileReader.h"
#include "batch/SaveName.h"
#include "picture/TPicture.h"
#include "platform/FileName.h"

namespace kevrale {

// The text names 12000 pixels while pictures up to 12500 wide are thinned:
// the limit follows from the engine's ring (kMaxThinningWidth), the text
// is the one users have always seen, and both stay as they are.
const char* const kThinningWidthMessage =
    "画像の横幅が12000pixelを越えていて実行できません\r\r"
    "横長の画像なら、９０°回転してから実行してください\r\r"
    "縦長なら縮小して実行してください";

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

ThinningResult LoadAndThinEntry(const std::string& path, TPicture& picture, TColor target,
                                TColor surround, const ThinningOptions& options,
                                const TLoadLimits& limits) {
  CheckEntryName(path);
  picture.LoadFromFile(path, limits);
  return RunThinning(picture, target, surround, options);
}

void RunBatchEntry(const std::string& path, TPicture& picture, TColor target, TColor surround,
                   const TooWideEvent& too_wide, const ThinningOptions& options) {
  if (LoadAndThinEntry(path, picture, target, surround, options) == ThinningResult::TooWide &&
      too_wide)
    too_wide();
  picture.SaveToFile(SaveNameFor(path));
}

void RunBatch(const std::string& list_path, TPicture& picture, TColor target, TColor surround,
              const TooWideEvent& too_wide, const ThinningOptions& options) {
  ListFileReader reader(list_path);
  while (!reader.Eof()) {
    const std::string entry = reader.ReadLine();
    RunBatchEntry(ResolveEntry(list_path, entry), picture, target, surround, too_wide, options);
  }
}

}  // namespace kevrale

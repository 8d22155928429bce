// Helpers of the plug-in process tests: the two ways to call a plug-in
// (in this process through TInSPI, or through a PluginProcess) behind one
// set of calls, and what a picture call gave, taken out of its blocks so
// that two outcomes can be compared byte for byte.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "DecodingSupport.h"
#include "ipc/PluginProcess.h"
#include "kevrale/spi.h"
#include "plugins/DibCheck.h"
#include "plugins/TInSPI.h"

namespace kevrale::test {

// The options of a process started from the build tree's program folder.
inline PluginProcessOptions TestOptions(int time_limit_seconds = 30, bool in_place = true) {
  PluginProcessOptions options;
  options.program_folder = KEVRALE_BIN_DIR;
  options.time_limit_seconds = time_limit_seconds;
  options.blocks_in_place = in_place;
  return options;
}

// The progress calls of a plug-in, with the call at which to abort (1 for
// the first; 0: never).
struct ProgressLog {
  std::vector<std::pair<int32_t, int32_t>> Calls;
  size_t AbortAt = 0;

  static int32_t Record(int32_t num, int32_t denom, intptr_t data) {
    auto* log = reinterpret_cast<ProgressLog*>(data);
    log->Calls.emplace_back(num, denom);
    return log->Calls.size() == log->AbortAt ? 1 : 0;
  }
  intptr_t Data() { return reinterpret_cast<intptr_t>(this); }
};

// The input of a picture call: a file by name, or bytes in memory, from an
// offset on.
struct Input {
  std::string File;
  std::vector<uint8_t> Bytes;
  intptr_t Offset = 0;

  static Input FromFile(std::string file, intptr_t offset = 0) {
    return {std::move(file), {}, offset};
  }
  static Input FromMemory(std::vector<uint8_t> bytes, intptr_t offset = 0) {
    return {std::string(), std::move(bytes), offset};
  }
  bool Memory() const { return File.empty(); }
  const char* Buf() const {
    return Memory() ? reinterpret_cast<const char*>(Bytes.data()) + Offset : File.c_str();
  }
  intptr_t Len() const { return Memory() ? intptr_t(Bytes.size()) - Offset : Offset; }
  uint32_t Flag() const { return Memory() ? SPI_INPUT_MEMORY : SPI_INPUT_FILE; }
};

// A block as the caller received it.
struct BlockCopy {
  bool Null = true;
  size_t Size = 0;  // LocalSize
  std::vector<uint8_t> Bytes;

  bool operator==(const BlockCopy&) const = default;
};

// Copies a block the caller owns, then frees it.
inline BlockCopy TakeBlock(SpiHandle handle) {
  BlockCopy copy;
  if (handle == nullptr) return copy;
  copy.Null = false;
  copy.Size = LocalSize(handle);
  if (const void* p = LocalLock(handle)) {
    const auto* bytes = static_cast<const uint8_t*>(p);
    copy.Bytes.assign(bytes, bytes + copy.Size);
    LocalUnlock(handle);
  }
  LocalFree(handle);
  return copy;
}

// What GetPicture or GetPreview gave.
struct PictureOutcome {
  int32_t Result = 0;
  BlockCopy Info;
  BlockCopy Bits;
  bool SameHandle = false;
  bool Accepted = false;  // as the host's check judges the two blocks
  std::vector<std::pair<int32_t, int32_t>> Progress;

  bool operator==(const PictureOutcome&) const = default;
};

// A handle value that no call may store: left as it is after a failure.
inline SpiHandle Untouched() {
  static char mark;
  return &mark;
}

// Calls GetPicture (or GetPreview) of `plugin`: a TInSPI or a PluginProcess.
template <class Plugin>
PictureOutcome Picture(Plugin& plugin, const Input& input, bool preview = false,
                       size_t abort_at = 0, bool with_progress = true) {
  ProgressLog log;
  log.AbortAt = abort_at;
  SpiHandle info = Untouched();
  SpiHandle bits = Untouched();
  PictureOutcome out;
  SpiProgressCallback progress = with_progress ? &ProgressLog::Record : nullptr;
  out.Result = preview ? plugin.GetPreview(input.Buf(), input.Len(), input.Flag(), &info, &bits,
                                           progress, log.Data())
                       : plugin.GetPicture(input.Buf(), input.Len(), input.Flag(), &info, &bits,
                                           progress, log.Data());
  out.Progress = log.Calls;
  if (out.Result != SPI_SUCCESS) {
    // The caller's handles stay as they were.
    EXPECT_EQ(info, Untouched());
    EXPECT_EQ(bits, Untouched());
    return out;
  }
  out.SameHandle = info != nullptr && info == bits;
  const size_t info_size = LocalSize(info);
  const size_t bits_size = LocalSize(bits);
  out.Accepted = !out.SameHandle && info_size > 0 && bits_size > 0 &&
                 CheckDib(LocalLock(info), info_size, LocalLock(bits), bits_size).has_value();
  if (out.Accepted) {
    LocalUnlock(info);
    LocalUnlock(bits);
  }
  out.Info = TakeBlock(info);
  out.Bits = out.SameHandle ? out.Info : TakeBlock(bits);
  return out;
}

// What GetPictureInfo gave.
struct InfoOutcome {
  int32_t Result = 0;
  int32_t Left = 0, Top = 0, Width = 0, Height = 0;
  uint16_t XDensity = 0, YDensity = 0;
  int16_t ColorDepth = 0;
  BlockCopy Text;

  bool operator==(const InfoOutcome&) const = default;
};

template <class Plugin>
InfoOutcome PictureInfo(Plugin& plugin, const Input& input) {
  SpiPictureInfo info{};
  info.left = 77;  // a value the plug-in overwrites or leaves
  InfoOutcome out;
  out.Result = plugin.GetPictureInfo(input.Buf(), input.Len(), input.Flag(), &info);
  out.Left = info.left;
  out.Top = info.top;
  out.Width = info.width;
  out.Height = info.height;
  out.XDensity = info.x_density;
  out.YDensity = info.y_density;
  out.ColorDepth = info.colorDepth;
  out.Text = TakeBlock(info.hInfo);
  return out;
}

inline std::ostream& operator<<(std::ostream& os, const PictureOutcome& o) {
  os << "result " << o.Result << ", info " << (o.Info.Null ? "null" : std::to_string(o.Info.Size))
     << ", bits " << (o.Bits.Null ? "null" : std::to_string(o.Bits.Size)) << ", "
     << (o.Accepted ? "accepted" : "refused") << ", " << o.Progress.size() << " progress calls";
  return os;
}

inline std::ostream& operator<<(std::ostream& os, const InfoOutcome& o) {
  return os << "result " << o.Result << ", " << o.Width << "x" << o.Height << " depth "
            << o.ColorDepth << ", left " << o.Left << ", text "
            << (o.Text.Null ? "null" : std::to_string(o.Text.Size));
}

// A picture with as many colours as `colours` allows, different in every
// call with another `seed`.
inline Pixels TestPicture(int width, int height, int colours, int seed = 0) {
  return MakePixels(width, height, [=](int x, int y) {
    const int k = (x * 7 + y * 3 + seed) % colours;
    return RGB(uint8_t(40 * k + seed), uint8_t(255 - 30 * k), uint8_t(k * 13 + 2 * seed));
  });
}

}  // namespace kevrale::test

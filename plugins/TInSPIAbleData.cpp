#include "plugins/TInSPIAbleData.h"

#include <array>
#include <new>
#include <utility>
#include <vector>

#include "ipc/PluginProcessErrors.h"
#include "platform/Exception.h"
#include "platform/FileName.h"
#include "platform/Format.h"
#include "platform/MulDiv.h"
#include "platform/ScopeExit.h"
#include "plugins/DibCheck.h"
#include "plugins/SPIExceptions.h"
#include "plugins/TInSPI.h"
#include "plugins/TSPIGraphic.h"
#include "plugins/TSPIs.h"

namespace kevrale {

namespace {

// A plug-in's result code as a load failure.
LoadFailure FailureOfResult(int32_t result) {
  switch (result) {
    case SPI_ABORTED:
      return LoadFailure::Aborted;
    case SPI_UNKNOWN_FORMAT:
      return LoadFailure::NotThisFormat;
    case SPI_BROKEN_DATA:
      return LoadFailure::BrokenData;
    case SPI_OUT_OF_MEMORY:
      return LoadFailure::OutOfMemory;
    default:
      return LoadFailure::PluginResult;
  }
}

}  // namespace

TInSPIAbleData::TInSPIAbleData(TSPIGraphic* owner, TSPIs* host, std::string source_name)
    : source_name_(std::move(source_name)), owner_(owner), host_(host) {}

TInSPIAbleData::~TInSPIAbleData() {
  FreeHandles();
}

bool TInSPIAbleData::HasDataAt(intptr_t) const {
  return true;
}

void TInSPIAbleData::FreeHandles() {
  // A bad plug-in may give one handle for two blocks: it is freed once.
  if (text_info_.Handle() == bitmap_.Info.Handle() || text_info_.Handle() == bitmap_.Bits.Handle())
    text_info_.Release();
  bitmap_.Reset();
  layout_.reset();
  text_info_.Reset();
  picture_info_.hInfo = nullptr;
}

void TInSPIAbleData::DoProgress(TProgressStage stage, uint8_t percent_done,
                                const std::string& msg) {
  if (OnProgress && owner_ != nullptr)
    OnProgress(*owner_, stage, percent_done, stage == psEnding, TRect{}, msg);
}

void TInSPIAbleData::NoteUnreadable(const EStreamError& error) {
  outcome_.Add({std::string(ExtractFileName(source_name_)), LoadFailure::CannotOpen, 0,
                error.Reason(), error.ErrorNumber()});
}

void TInSPIAbleData::Note(const TInSPI& plugin, intptr_t offset, LoadFailure failure,
                          int32_t result, std::string detail) {
  if (offset != 0)
    detail += (detail.empty() ? "at offset " : ", at offset ") + std::to_string(offset);
  outcome_.Add(
      {std::string(ExtractFileName(plugin.FileName())), failure, result, std::move(detail)});
}

int32_t TInSPIAbleData::PluginProgress(int32_t done, int32_t total, intptr_t data) noexcept {
  auto* source = reinterpret_cast<TInSPIAbleData*>(data);
  if (source == nullptr || !source->OnProgress) return 0;
  // A plug-in that goes on calling after it was told to stop is told again.
  if (source->plugin_error_ || source->aborted_) return 1;
  // -1 for a zero total or an overflow, which reports 1 %.
  const uint8_t percent = uint8_t(uint32_t(MulDiv(done, 97, total)) + 2u);
  try {
    source->DoProgress(psRunning, percent, std::string());
  } catch (const EAbort&) {
    source->aborted_ = true;  // the listener cancels this plug-in's decode only
    return 1;
  } catch (...) {
    // Raised again once the plug-in's call has returned.
    source->plugin_error_ = std::current_exception();
    return 1;
  }
  return 0;
}

int32_t TInSPIAbleData::QueryInfo(const TInSPI& plugin, intptr_t offset) {
  text_info_.Reset();
  picture_info_ = SpiPictureInfo{};
  const Input in = InputAt(offset);
  const int32_t result = plugin.GetPictureInfo(in.Buf, in.Len, in.Flag, &picture_info_);
  // The text information belongs to the caller whatever the result.
  text_info_ = LocalBlock(picture_info_.hInfo);
  info_ok_ = result == SPI_SUCCESS;
  return result;
}

int32_t TInSPIAbleData::QueryPicture(const TInSPI& plugin, intptr_t offset) {
  bitmap_.Reset();
  const Input in = InputAt(offset);
  return plugin.GetPicture(in.Buf, in.Len, in.Flag, bitmap_.Info.Receive(), bitmap_.Bits.Receive(),
                           &PluginProgress, ProgressData());
}

int32_t TInSPIAbleData::QueryPreview(const TInSPI& plugin, intptr_t offset) {
  bitmap_.Reset();
  const Input in = InputAt(offset);
  try {
    return plugin.GetPreview(in.Buf, in.Len, in.Flag, bitmap_.Info.Receive(),
                             bitmap_.Bits.Receive(), &PluginProgress, ProgressData());
  } catch (const ESPIInvalidAPI&) {
    return SPI_NOT_IMPLEMENTED;  // the plug-in has no GetPreview: there is no preview
  }
}

bool TInSPIAbleData::AcceptReturnedBitmap(int32_t result, const TInSPI& plugin, intptr_t offset) {
  if (plugin_error_) {
    bitmap_.Reset();
    std::rethrow_exception(std::exchange(plugin_error_, nullptr));
  }
  if (std::exchange(aborted_, false)) {
    bitmap_.Reset();
    Note(plugin, offset, LoadFailure::Aborted, result, "stopped by the progress listener");
    return false;
  }
  if (result != SPI_SUCCESS) {
    // Whatever a failing plug-in stored is freed; the library refuses a
    // handle that it did not make, so this is safe for garbage too.
    bitmap_.Reset();
    Note(plugin, offset, FailureOfResult(result), result, std::string());
    return false;
  }
  // Nothing reads the bitmap before its header has been checked against the
  // blocks that really came back (LocalSize is 0 for a foreign handle). One
  // block given twice would have its header read as pixels.
  std::optional<DibLayout> layout;
  if (!bitmap_.Empty() && bitmap_.Info.Handle() != bitmap_.Bits.Handle()) {
    const size_t info_size = bitmap_.Info.Size();
    const size_t bits_size = bitmap_.Bits.Size();
    if (info_size != 0 && bits_size != 0)
      layout = CheckDib(bitmap_.Info.Lock(), info_size, bitmap_.Bits.Lock(), bits_size);
  }
  if (!layout) {
    bitmap_.Reset();
    Note(plugin, offset, LoadFailure::BrokenData, result,
         "the bitmap it returned does not fit its memory blocks");
    return false;
  }
  layout_ = std::move(layout);
  // A plug-in in this process allocated its blocks here, writable; one in a
  // process of its own hands them over sealed (read-only) or copied.
  bits_here_ = plugin.Handle() != nullptr;
  return true;
}

LocalBlock TInSPIAbleData::TakeBits() {
  if (!bits_here_ || IsEmpty()) return LocalBlock();
  layout_.reset();
  return std::move(bitmap_.Bits);
}

bool TInSPIAbleData::TryPlugin(const TInSPI& plugin, const uint8_t* head, intptr_t offset) {
  if (!HasDataAt(offset)) return true;
  try {
    Attempt(plugin, head, offset);
  } catch (const EPluginProcessError& e) {
    // The plug-in's process crashed, hung or did not start: a failure of
    // this plug-in on this picture, not of the program. Its other start
    // offset would only fail again.
    const LoadFailure failure = dynamic_cast<const EPluginCrashed*>(&e) ? LoadFailure::PluginCrashed
                                : dynamic_cast<const EPluginNoAnswer*>(&e)
                                    ? LoadFailure::PluginNoAnswer
                                    : LoadFailure::PluginNotStarted;
    ProcessFailed(plugin, offset, failure, e.Reason());
    return false;
  } catch (const ESPIFOpenErrorSPI& e) {
    // A fresh process found the plug-in file no longer loadable.
    ProcessFailed(plugin, offset, LoadFailure::PluginNotStarted, e.Reason());
    return false;
  }
  return true;
}

void TInSPIAbleData::ProcessFailed(const TInSPI& plugin, intptr_t offset, LoadFailure failure,
                                   const std::string& how) {
  bitmap_.Reset();
  aborted_ = false;
  // An error of the listener that the process's end cut short goes on.
  if (plugin_error_) std::rethrow_exception(std::exchange(plugin_error_, nullptr));
  Note(plugin, offset, failure, 0, how);
}

void TInSPIAbleData::Attempt(const TInSPI& plugin, const uint8_t* head, intptr_t offset) {
  if (plugin.IsSupported(source_name_.c_str(), reinterpret_cast<intptr_t>(head + offset)) == 0) {
    Note(plugin, offset, LoadFailure::NotThisFormat, 0, std::string());
    return;
  }
  QueryInfo(plugin, offset);
  if (info_ok_ && Limits.MaxWidth > 0 && picture_info_.width > Limits.MaxWidth)
    throw EPictureTooWide(Limits.TooWideMessage);
  if (host_ != nullptr && host_->GraphicPreview) {
    const int32_t result = QueryPreview(plugin, offset);
    // A preview that fails is no answer of its own: the picture follows.
    if (result == SPI_NOT_IMPLEMENTED && !plugin_error_ && !aborted_) {
      bitmap_.Reset();
    } else if (AcceptReturnedBitmap(result, plugin, offset)) {
      return;
    }
  }
  AcceptReturnedBitmap(QueryPicture(plugin, offset), plugin, offset);
}

void TInSPIAbleData::Decode() {
  const bool mac_binary = host_ != nullptr && host_->MacBinary;
  outcome_ = LoadOutcome{};
  DoProgress(psStarting, 0, "Loading Graphic by Susie Plugin");
  // The closing report comes however the loop ends; an error of the loop
  // goes on after it.
  const ScopeExit close([this] { DoProgress(psEnding, 100, "Loaded Graphic by Susie Plugin"); });
  FreeHandles();
  DoProgress(psRunning, 1, "Seeking enabled Susie Plugins");
  std::vector<TSPI*> candidates;
  if (host_ != nullptr)
    host_->CollectSPIs({&TInSPI::Class}, std::string(ExtractFileExt(source_name_)), candidates);
  std::array<uint8_t, kHeadSize> head{};
  ReadHead(head.data(), head.size());
  const intptr_t offsets[] = {0, kMacBinaryOffset};
  const size_t offset_count = mac_binary ? 2 : 1;
  for (TSPI* candidate : candidates) {
    const auto* plugin = dynamic_cast<const TInSPI*>(candidate);
    if (plugin == nullptr) continue;
    // A plug-in in a process of its own keeps memory input from one call to
    // the next (both offsets use it); it is let go after the candidate.
    const ScopeExit forget([plugin] { plugin->Library().ForgetInput(); });
    for (size_t o = 0; o < offset_count; ++o) {
      DoProgress(psRunning, 1, Format("Loading by [%s]", {ExtractFileName(plugin->FileName())}));
      const bool usable = TryPlugin(*plugin, head.data(), offsets[o]);
      if (!IsEmpty()) return;
      FreeHandles();
      if (!usable) break;
    }
  }
}

}  // namespace kevrale

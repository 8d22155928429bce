#include "plugins/TInSPIAbleData.h"

#include <array>
#include <utility>
#include <vector>

#include "platform/Exception.h"
#include "platform/FileName.h"
#include "platform/Format.h"
#include "platform/MulDiv.h"
#include "plugins/DibCheck.h"
#include "plugins/TInSPI.h"
#include "plugins/TSPIGraphic.h"
#include "plugins/TSPIs.h"

namespace kevrale {

namespace {

// The import plug-ins to try, in the host's order of preference.
std::vector<TSPI*> CollectCandidates(const std::string& source_name) {
  std::vector<TSPI*> list;
  if (TSPIs* host = GlobalSPIs())
    host->CollectSPIs({&TInSPI::Class}, std::string(ExtractFileExt(source_name)), list);
  return list;
}

}  // namespace

TInSPIAbleData::TInSPIAbleData(TSPIGraphic* owner, std::string source_name)
    : source_name_(std::move(source_name)), owner_(owner) {}

TInSPIAbleData::~TInSPIAbleData() {
  FreeHandles();
}

bool TInSPIAbleData::HasDataAt(intptr_t) const {
  return true;
}

void* TInSPIAbleData::LockInfo() {
  if (info_ptr_ == nullptr) info_ptr_ = LocalLock(info_handle_);
  return info_ptr_;
}

void* TInSPIAbleData::LockBits() {
  if (bits_ptr_ == nullptr) bits_ptr_ = LocalLock(bits_handle_);
  return bits_ptr_;
}

void TInSPIAbleData::ReleaseBitmap() {
  if (info_ptr_ != nullptr) {
    LocalUnlock(info_handle_);
    info_ptr_ = nullptr;
  }
  if (bits_ptr_ != nullptr) {
    LocalUnlock(bits_handle_);
    bits_ptr_ = nullptr;
  }
  // The local-memory library refuses handles that it did not make, so a
  // foreign handle from a bad plug-in is dropped here, not freed.
  if (info_handle_ != nullptr) {
    LocalFree(info_handle_);
    info_handle_ = nullptr;
  }
  if (bits_handle_ != nullptr) {
    LocalFree(bits_handle_);
    bits_handle_ = nullptr;
  }
}

void TInSPIAbleData::FreeHandles() {
  ReleaseBitmap();
  if (picture_info_.hInfo != nullptr) {
    LocalFree(picture_info_.hInfo);
    picture_info_.hInfo = nullptr;
  }
}

void TInSPIAbleData::DoProgress(TProgressStage stage, uint8_t percent_done,
                                const std::string& msg) {
  if (OnProgress && owner_ != nullptr)
    OnProgress(*owner_, stage, percent_done, stage == psEnding, TRect{}, msg);
}

int32_t TInSPIAbleData::PluginProgress(int32_t done, int32_t total, intptr_t data) noexcept {
  auto* source = reinterpret_cast<TInSPIAbleData*>(data);
  if (source == nullptr || !source->OnProgress) return 0;
  // A plug-in that goes on calling after it was told to stop is told again.
  if (source->plugin_error_) return 1;
  // -1 for a zero total or an overflow, which reports 1 %.
  const uint8_t percent = uint8_t(uint32_t(MulDiv(done, 97, total)) + 2u);
  try {
    source->DoProgress(psRunning, percent, std::string());
  } catch (const EAbort&) {
    return 1;  // the listener cancels this plug-in's decode only
  } catch (...) {
    // Raised again once the plug-in's call has returned.
    source->plugin_error_ = std::current_exception();
    return 1;
  }
  return 0;
}

void TInSPIAbleData::AcceptReturnedBitmap() {
  if (plugin_error_) {
    ReleaseBitmap();
    std::rethrow_exception(std::exchange(plugin_error_, nullptr));
  }
  if (IsEmpty()) {
    ReleaseBitmap();  // a plug-in that handed back one block of two
    return;
  }
  if (info_handle_ == bits_handle_) {
    // One block given twice: the header would be read as pixels; the block
    // is freed once (the library refuses the second free).
    ReleaseBitmap();
    return;
  }
  // Nothing reads the bitmap before its header has been checked against the
  // blocks that really came back (LocalSize is 0 for a foreign handle).
  const size_t info_size = LocalSize(info_handle_);
  const size_t bits_size = LocalSize(bits_handle_);
  if (info_size == 0 || bits_size == 0 || !CheckDib(LockInfo(), info_size, LockBits(), bits_size))
    ReleaseBitmap();
}

void TInSPIAbleData::TryPlugin(const TInSPI& plugin, const uint8_t* head, intptr_t offset) {
  if (!HasDataAt(offset)) return;
  if (plugin.IsSupported(source_name_.c_str(), reinterpret_cast<intptr_t>(head + offset)) == 0)
    return;
  QueryInfo(plugin, offset, picture_info_, info_ok_);
  const TSPIs* host = GlobalSPIs();
  if (host != nullptr && host->GraphicPreview) {
    QueryPreview(plugin, offset, info_handle_, bits_handle_);
    AcceptReturnedBitmap();
    if (!IsEmpty()) return;
  }
  QueryPicture(plugin, offset, info_handle_, bits_handle_);
  AcceptReturnedBitmap();
}

void TInSPIAbleData::Decode() {
  const TSPIs* const host = GlobalSPIs();
  const bool mac_binary = host != nullptr && host->MacBinary;
  DoProgress(psStarting, 0, "Loading Graphic by Susie Plugin");
  try {
    FreeHandles();
    DoProgress(psRunning, 1, "Seeking enabled Susie Plugins");
    const std::vector<TSPI*> candidates = CollectCandidates(source_name_);
    std::array<uint8_t, kHeadSize> head{};
    ReadHead(head.data(), head.size());
    const intptr_t offsets[] = {0, kMacBinaryOffset};
    const size_t offset_count = mac_binary ? 2 : 1;
    bool decoded = false;
    for (size_t c = 0; c < candidates.size() && !decoded; ++c) {
      const auto* plugin = dynamic_cast<const TInSPI*>(candidates[c]);
      if (plugin == nullptr) continue;
      for (size_t o = 0; o < offset_count; ++o) {
        DoProgress(psRunning, 1, Format("Loading by [%s]", {ExtractFileName(plugin->FileName())}));
        TryPlugin(*plugin, head.data(), offsets[o]);
        if (!IsEmpty()) {
          decoded = true;
          break;
        }
        FreeHandles();
      }
    }
  } catch (...) {
    DoProgress(psEnding, 100, "Loaded Graphic by Susie Plugin");
    throw;
  }
  DoProgress(psEnding, 100, "Loaded Graphic by Susie Plugin");
}

}  // namespace kevrale

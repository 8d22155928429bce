// A data source that the import plug-ins may decode: a file given by name or
// a stream held in memory. Its decode loop offers the data to the import
// plug-ins of its host one after the other until one hands back a device-
// independent bitmap, keeps the two memory blocks of that bitmap, and turns
// the plug-in's progress calls and its own milestones into progress reports
// of the owning graphic. Each attempt's answer is kept (Outcome).
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>

#include "ipc/LocalBlock.h"
#include "kevrale/spi.h"
#include "picture/DibLayout.h"
#include "picture/LoadOutcome.h"
#include "picture/TGraphic.h"

namespace kevrale {

class EStreamError;
class TInSPI;
class TSPIGraphic;
class TSPIs;

class TInSPIAbleData {
 public:
  // 2048 + 128: a plug-in that reads 2048 bytes of the head at offset 128
  // stays inside the buffer.
  static constexpr size_t kHeadSize = 2176;
  // The size of a MacBinary header in front of the image data: the second
  // start offset of every plug-in when the host's MacBinary option is on.
  static constexpr intptr_t kMacBinaryOffset = 128;

  virtual ~TInSPIAbleData();
  TInSPIAbleData(const TInSPIAbleData&) = delete;
  TInSPIAbleData& operator=(const TInSPIAbleData&) = delete;

  // Offers the data to the host's import plug-ins, those that claim the
  // extension of SourceName first, at offset 0 and (MacBinary on) 128.
  // Returns normally whether or not one decoded it (see IsEmpty, Outcome).
  // An error of the progress listener ends the decode with that error,
  // except an EAbort raised inside a plug-in's progress call, which aborts
  // that plug-in only. Without a host there is nothing to try.
  void Decode();

  // True unless a plug-in's bitmap is held.
  bool IsEmpty() const { return bitmap_.Empty(); }
  // The locked addresses of the info block and of the bits; each handle is
  // locked once and stays locked until FreeHandles.
  void* LockInfo() { return bitmap_.Info.Lock(); }
  void* LockBits() { return bitmap_.Bits.Lock(); }
  // Unlocks and frees what the plug-ins handed back: both blocks of the
  // bitmap and the text information of the picture information.
  void FreeHandles();

  // The bits block of the held bitmap, taken over by the caller, when a
  // plug-in of this process made it (writable memory of this process);
  // the source is empty afterwards. An empty block otherwise, and the
  // source keeps its bitmap.
  LocalBlock TakeBits();

  SpiHandle InfoHandle() const { return bitmap_.Info.Handle(); }
  SpiHandle BitsHandle() const { return bitmap_.Bits.Handle(); }
  // The layout of the held bitmap as its check found it; nullptr when empty.
  const DibLayout* Layout() const { return layout_ ? &*layout_ : nullptr; }
  const std::string& SourceName() const { return source_name_; }
  // Filled by the last GetPictureInfo; InfoOK tells whether it returned 0.
  // Its text information (hInfo) is owned here.
  const SpiPictureInfo& PictureInfo() const { return picture_info_; }
  bool InfoOK() const { return info_ok_; }
  TSPIGraphic* OwnerGraphic() const { return owner_; }
  TSPIs* Host() const { return host_; }
  // What each attempt of the last Decode answered.
  const LoadOutcome& Outcome() const { return outcome_; }

  // A copy of the owning graphic's progress event, set before each decode.
  TProgressEvent OnProgress;
  // The owning graphic's limits: a picture that a plug-in's picture
  // information shows too wide ends the decode (EPictureTooWide) before
  // GetPicture is asked.
  TLoadLimits Limits;

 protected:
  TInSPIAbleData(TSPIGraphic* owner, TSPIs* host, std::string source_name);

  // The input of the picture functions for the data at `offset`: file
  // input (the name, the offset) or memory input (the address, the size).
  struct Input {
    const char* Buf;
    intptr_t Len;
    uint32_t Flag;
  };
  virtual Input InputAt(intptr_t offset) const = 0;
  // Fills the buffer with up to `count` bytes from the start of the data.
  // A file that cannot be read leaves it as it was and says why in the
  // outcome (NoteUnreadable); the plug-ins are asked all the same.
  virtual void ReadHead(uint8_t* buffer, size_t count) = 0;
  // Whether there is data at `offset`: memory input shorter than a start
  // offset has none, and that attempt is skipped.
  virtual bool HasDataAt(intptr_t offset) const;

  void NoteUnreadable(const EStreamError& error);

  // Reports to OnProgress with the owning graphic as sender.
  void DoProgress(TProgressStage stage, uint8_t percent_done, const std::string& msg);

 private:
  // The plug-in's picture information; its result.
  int32_t QueryInfo(const TInSPI& plugin, intptr_t offset);
  // The plug-in's preview or full picture into the bitmap blocks; its
  // result. A plug-in without GetPreview has no preview (-1).
  int32_t QueryPreview(const TInSPI& plugin, intptr_t offset);
  int32_t QueryPicture(const TInSPI& plugin, intptr_t offset);
  // One candidate at one offset; records the answer in the outcome. False
  // when the plug-in's process failed (its other offset is not tried).
  bool TryPlugin(const TInSPI& plugin, const uint8_t* head, intptr_t offset);
  // The calls of one attempt: IsSupported, the information, the picture.
  void Attempt(const TInSPI& plugin, const uint8_t* head, intptr_t offset);
  // Records that the plug-in's process failed in an attempt (`how`: its
  // reason); an error of the listener raised meanwhile goes on instead.
  void ProcessFailed(const TInSPI& plugin, intptr_t offset, LoadFailure failure,
                     const std::string& how);
  // After a plug-in's preview or picture call with `result`: carries out
  // an error that the listener raised inside it, frees whatever a failing
  // plug-in stored, and drops a bitmap that fails the check. True when a
  // checked bitmap is held.
  bool AcceptReturnedBitmap(int32_t result, const TInSPI& plugin, intptr_t offset);
  void Note(const TInSPI& plugin, intptr_t offset, LoadFailure failure, int32_t result,
            std::string detail);

  // The progress callback handed to the plug-ins; `data` is the source.
  static int32_t PluginProgress(int32_t done, int32_t total, intptr_t data) noexcept;
  intptr_t ProgressData() { return reinterpret_cast<intptr_t>(this); }

  DibBlocks bitmap_;
  std::optional<DibLayout> layout_;
  bool bits_here_ = false;  // the bits block was made in this process
  std::string source_name_;
  SpiPictureInfo picture_info_{};
  LocalBlock text_info_;  // picture_info_.hInfo, owned
  TSPIGraphic* owner_;
  TSPIs* host_;
  bool info_ok_ = false;
  LoadOutcome outcome_;
  // An error of the listener inside a plug-in's call, raised again once the
  // plug-in has returned: no exception may unwind through its frames.
  std::exception_ptr plugin_error_;
  bool aborted_ = false;  // the listener stopped the current plug-in
};

}  // namespace kevrale

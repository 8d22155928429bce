// A data source that the import plug-ins may decode: a file given by name or
// a stream held in memory. Its decode loop offers the data to the installed
// import plug-ins one after the other until one hands back a device-
// independent bitmap, keeps the two memory blocks of that bitmap, and turns
// the plug-in's progress calls and its own milestones into progress reports
// of the owning graphic.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "kevrale/spi.h"
#include "picture/TGraphic.h"

namespace kevrale {

class TInSPI;
class TSPIGraphic;

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

  // Offers the data to the import plug-ins of the host, those that claim the
  // extension of SourceName first, at offset 0 and (MacBinary on) 128.
  // Returns normally whether or not one decoded it (see IsEmpty). An error of
  // the progress listener ends the decode with that error, except an EAbort
  // raised inside a plug-in's progress call, which aborts that plug-in only.
  void Decode();

  // True unless a plug-in's bitmap is held.
  bool IsEmpty() const { return info_handle_ == nullptr || bits_handle_ == nullptr; }
  // The locked addresses of the info block and of the bits; each handle is
  // locked once and stays locked until FreeHandles.
  void* LockInfo();
  void* LockBits();
  // Unlocks and frees what the plug-ins handed back: both blocks of the
  // bitmap and the text information of the picture information.
  void FreeHandles();

  SpiHandle InfoHandle() const { return info_handle_; }
  SpiHandle BitsHandle() const { return bits_handle_; }
  const std::string& SourceName() const { return source_name_; }
  // Filled by the last GetPictureInfo; InfoOK tells whether it returned 0.
  const SpiPictureInfo& PictureInfo() const { return picture_info_; }
  bool InfoOK() const { return info_ok_; }
  TSPIGraphic* OwnerGraphic() const { return owner_; }

  // A copy of the owning graphic's progress event, set before each decode.
  TProgressEvent OnProgress;

 protected:
  TInSPIAbleData(TSPIGraphic* owner, std::string source_name);

  // Fills the buffer with up to `count` bytes from the start of the data.
  virtual void ReadHead(uint8_t* buffer, size_t count) = 0;
  // The plug-in's picture information of the data at `offset`.
  virtual void QueryInfo(const TInSPI& plugin, intptr_t offset, SpiPictureInfo& info, bool& ok) = 0;
  // The plug-in's preview and full picture of the data at `offset`; both
  // handles none when the plug-in fails.
  virtual void QueryPreview(const TInSPI& plugin, intptr_t offset, SpiHandle& info,
                            SpiHandle& bits) = 0;
  virtual void QueryPicture(const TInSPI& plugin, intptr_t offset, SpiHandle& info,
                            SpiHandle& bits) = 0;
  // Whether there is data at `offset`: memory input shorter than a start
  // offset has none, and that attempt is skipped.
  virtual bool HasDataAt(intptr_t offset) const;

  // Reports to OnProgress with the owning graphic as sender.
  void DoProgress(TProgressStage stage, uint8_t percent_done, const std::string& msg);

  // The progress callback handed to the plug-ins; `data` is the source.
  static int32_t PluginProgress(int32_t done, int32_t total, intptr_t data) noexcept;
  intptr_t ProgressData() { return reinterpret_cast<intptr_t>(this); }

 private:
  void TryPlugin(const TInSPI& plugin, const uint8_t* head, intptr_t offset);
  // After a plug-in's preview or picture call: carries out an error that the
  // listener raised inside it, and drops a bitmap that fails the check.
  void AcceptReturnedBitmap();
  // Unlocks and frees the two blocks of the bitmap only.
  void ReleaseBitmap();

  SpiHandle info_handle_ = nullptr;
  SpiHandle bits_handle_ = nullptr;
  void* info_ptr_ = nullptr;
  void* bits_ptr_ = nullptr;
  std::string source_name_;
  SpiPictureInfo picture_info_{};
  TSPIGraphic* owner_;
  bool info_ok_ = false;
  // An error of the listener inside a plug-in's call, raised again once the
  // plug-in has returned: no exception may unwind through its frames.
  std::exception_ptr plugin_error_;
};

}  // namespace kevrale

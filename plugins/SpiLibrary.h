// The entry points of a plug-in library as a module calls them, wherever the
// library runs: loaded into this process (LoadedSpiLibrary) or served by a
// plug-in process of its own (ProcessSpiLibrary). A module holds one; the
// modules made of one source share it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "kevrale/spi.h"

namespace kevrale {

// The nine entry points a plug-in may export, one bit each.
enum class SpiEntry : uint32_t {
  GetPluginInfo = 1u << 0,
  ConfigurationDlg = 1u << 1,
  IsSupported = 1u << 2,
  GetPictureInfo = 1u << 3,
  GetPicture = 1u << 4,
  GetPreview = 1u << 5,
  GetArchiveInfo = 1u << 6,
  GetFileInfo = 1u << 7,
  GetFile = 1u << 8,
};

class SpiLibrary {
 public:
  virtual ~SpiLibrary() = default;

  // The full path of the library as its loader reports it (the name it was
  // opened with when the loader reports none).
  virtual const std::string& FileName() const = 0;
  // The native handle of a library loaded into this process; nullptr for
  // one that runs elsewhere.
  virtual void* Handle() const { return nullptr; }
  // Whether the library exports `entry`.
  virtual bool Exports(SpiEntry entry) const = 0;

  // The entry points, called only when exported. A library in a process of
  // its own raises EPluginProcessError when that process fails.
  virtual int32_t GetPluginInfo(int32_t info_no, char* buf, int32_t buf_len) = 0;
  virtual int32_t IsSupported(const char* file_name, intptr_t dw) = 0;
  virtual int32_t GetPictureInfo(const char* buf, intptr_t len, uint32_t flag,
                                 SpiPictureInfo* info) = 0;
  virtual int32_t GetPicture(const char* buf, intptr_t len, uint32_t flag, SpiHandle* hbinfo,
                             SpiHandle* hbm, SpiProgressCallback progress, intptr_t data) = 0;
  virtual int32_t GetPreview(const char* buf, intptr_t len, uint32_t flag, SpiHandle* hbinfo,
                             SpiHandle* hbm, SpiProgressCallback progress, intptr_t data) = 0;

  // The calls of one picture are over: a library that keeps memory input
  // from one call to the next (a plug-in process) lets it go.
  virtual void ForgetInput() {}
};

// What a module is made of: a library file that each module loads into this
// process (the loader shares one copy), or one that an opener opens once,
// for example in a plug-in process, and that every module made of this
// source shares.
class SpiSource {
 public:
  using Opener = std::function<std::shared_ptr<SpiLibrary>(const std::string& file_name)>;

  // A file name converts implicitly: that is the library loaded here.
  SpiSource(std::string file_name) : file_name_(std::move(file_name)) {}
  SpiSource(const char* file_name) : file_name_(file_name) {}
  SpiSource(std::string file_name, Opener open)
      : file_name_(std::move(file_name)), open_(std::move(open)) {}

  // The name as given; the load error names it so.
  const std::string& FileName() const { return file_name_; }

  // The library; ESPIFOpenErrorSPI when it cannot be loaded. An opener's
  // library is opened on the first call and handed out again afterwards.
  std::shared_ptr<SpiLibrary> Open() const;
  // The opener's library once it is open; nullptr before, and always for a
  // library loaded into this process.
  const std::shared_ptr<SpiLibrary>& Opened() const { return opened_; }

 private:
  std::string file_name_;
  Opener open_;
  mutable std::shared_ptr<SpiLibrary> opened_;
};

}  // namespace kevrale

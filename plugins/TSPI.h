// A plug-in module: one loaded Susie plug-in library, its entry points bound
// by name, its information strings read once, and a wrapper per entry point
// that tests the entry point's presence before each call.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kevrale/spi.h"
#include "platform/ClassInfo.h"
#include "platform/DynamicLibrary.h"

namespace kevrale {

class TSPI;

// Module kinds chosen at run time are named by their class descriptor; each
// creates a module from a library file name.
using TSPIClassInfo = ClassInfo<TSPI, const std::string&>;
using TSPIClass = const TSPIClassInfo*;

// The nine entry points a plug-in may export; null when it does not.
struct TSPIEntryPoints {
  SpiGetPluginInfoFunc GetPluginInfo = nullptr;
  SpiConfigurationDlgFunc ConfigurationDlg = nullptr;
  SpiIsSupportedFunc IsSupported = nullptr;
  SpiGetPictureInfoFunc GetPictureInfo = nullptr;
  SpiGetPictureFunc GetPicture = nullptr;
  SpiGetPreviewFunc GetPreview = nullptr;
  SpiGetArchiveInfoFunc GetArchiveInfo = nullptr;
  SpiGetFileInfoFunc GetFileInfo = nullptr;
  SpiGetFileFunc GetFile = nullptr;
};

class TSPI {
 public:
  static const TSPIClassInfo Class;

  // The most filter strings read from one plug-in: a plug-in that answered
  // every information number would otherwise never let the reading end.
  static constexpr int kMaxFilterPairs = 1024;

  // Loads the library (ESPIFOpenErrorSPI naming `file_name` as given when it
  // cannot), binds the entry points, checks those this kind requires
  // (ESPIInvalidAPI) and reads the information strings. On an error nothing
  // stays loaded.
  explicit TSPI(const std::string& file_name);
  virtual ~TSPI();
  TSPI(const TSPI&) = delete;
  TSPI& operator=(const TSPI&) = delete;

  virtual TSPIClass ClassType() const { return &Class; }

  // Raises ESPIInvalidAPI for the first required entry point that is missing,
  // the base kind's ones first.
  virtual void CheckAPIs() const;

  // The native handle of the library; modules of the same file share it.
  void* Handle() const { return library_.Handle(); }
  // The full path of the library as the loader reports it (the name given
  // when it reports none).
  const std::string& FileName() const { return file_name_; }
  // Information 0, such as "00IN"; empty when the plug-in gives none.
  const std::string& APIVersion() const { return api_version_; }
  // Information 1, the plug-in's name and version.
  const std::string& PluginName() const { return plugin_name_; }
  // Information 2, 4, 6, ...: filter strings such as "*.jpg;*.jpeg".
  const std::vector<std::string>& Extensions() const { return extensions_; }
  // Information 3, 5, 7, ...: the format name of the filter string of the
  // same index.
  const std::vector<std::string>& Descriptions() const { return descriptions_; }
  const TSPIEntryPoints& EntryPoints() const { return entry_points_; }

  // Information `info_no` into `buf`; the number of characters stored, 0 or
  // less when there is no such information.
  int32_t GetPluginInfo(int32_t info_no, char* buf, int32_t buf_len) const;

 protected:
  // Runs the entry-point checks of the kind being built.
  using Checker = void (*)(const TSPI& spi);
  TSPI(const std::string& file_name, Checker check);

  // The checks of this kind: GetPluginInfo.
  static void Checks(const TSPI& spi);
  // Raises ESPIInvalidAPI naming `api` and the module unless `present`.
  static void Require(const TSPI& spi, bool present, const char* api);

 private:
  bool ReadInfo(int32_t info_no, std::string& text) const;

  DynamicLibrary library_;  // first member: released last
  std::string file_name_;
  std::string api_version_;
  std::string plugin_name_;
  std::vector<std::string> extensions_;
  std::vector<std::string> descriptions_;
  TSPIEntryPoints entry_points_;
};

}  // namespace kevrale

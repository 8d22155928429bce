// A plug-in module: one Susie plug-in library, its information strings read
// once, the entry points its kind requires checked, and a wrapper per entry
// point that tests the entry point's presence before each call. The library
// runs where its source says: loaded into this process, or in a plug-in
// process of its own (SpiLibrary).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kevrale/spi.h"
#include "platform/ClassInfo.h"
#include "plugins/SpiLibrary.h"

namespace kevrale {

class TSPI;

// Module kinds chosen at run time are named by their class descriptor; each
// creates a module from a source (a library file name converts to one).
using TSPIClassInfo = ClassInfo<TSPI, const SpiSource&>;
using TSPIClass = const TSPIClassInfo*;

class TSPI {
 public:
  static const TSPIClassInfo Class;

  // The most filter strings read from one plug-in: a plug-in that answered
  // every information number would otherwise never let the reading end.
  static constexpr int kMaxFilterPairs = 1024;

  // Opens the library (ESPIFOpenErrorSPI naming the file as given when it
  // cannot be loaded), checks the entry points this kind requires
  // (ESPIInvalidAPI) and reads the information strings. On an error nothing
  // stays loaded.
  explicit TSPI(const SpiSource& source);
  virtual ~TSPI();
  TSPI(const TSPI&) = delete;
  TSPI& operator=(const TSPI&) = delete;

  virtual TSPIClass ClassType() const { return &Class; }

  // Raises ESPIInvalidAPI for the first required entry point that is missing,
  // the base kind's ones first.
  virtual void CheckAPIs() const;

  // The native handle of a library loaded into this process; modules of the
  // same file share it. nullptr for a library in a process of its own.
  void* Handle() const { return library_->Handle(); }
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
  // Whether the library exports `entry`.
  bool Exports(SpiEntry entry) const { return library_->Exports(entry); }
  // Where the entry points are called.
  SpiLibrary& Library() const { return *library_; }

  // Information `info_no` into `buf`; the number of characters stored, 0 or
  // less when there is no such information.
  int32_t GetPluginInfo(int32_t info_no, char* buf, int32_t buf_len) const;

 protected:
  // Runs the entry-point checks of the kind being built.
  using Checker = void (*)(const TSPI& spi);
  TSPI(const SpiSource& source, Checker check);

  // The checks of this kind: GetPluginInfo.
  static void Checks(const TSPI& spi);
  // Raises ESPIInvalidAPI naming `entry`'s name `api` and the module unless
  // the library exports it.
  static void Require(const TSPI& spi, SpiEntry entry, const char* api);

 private:
  bool ReadInfo(int32_t info_no, std::string& text) const;

  std::shared_ptr<SpiLibrary> library_;  // first member: released last
  std::string file_name_;
  std::string api_version_;
  std::string plugin_name_;
  std::vector<std::string> extensions_;
  std::vector<std::string> descriptions_;
};

}  // namespace kevrale

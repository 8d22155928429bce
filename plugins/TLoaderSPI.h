// The common base of the loader kinds: plug-ins that say whether they take
// a file (IsSupported).
#pragma once

#include "plugins/TSPI.h"

namespace kevrale {

class TLoaderSPI : public TSPI {
 public:
  static const TSPIClassInfo Class;

  explicit TLoaderSPI(const SpiSource& source) : TLoaderSPI(source, &Checks) {}

  TSPIClass ClassType() const override { return &Class; }
  void CheckAPIs() const override { Checks(*this); }

  // `file_name`: the file's name (may be empty); `dw`: the address of a
  // buffer holding at least 2 KB of the start of the data. Non-zero: the
  // plug-in takes the data.
  int32_t IsSupported(const char* file_name, intptr_t dw) const;

 protected:
  TLoaderSPI(const SpiSource& source, Checker check) : TSPI(source, check) {}
  // GetPluginInfo, IsSupported.
  static void Checks(const TSPI& spi);
};

}  // namespace kevrale

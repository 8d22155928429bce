// An archive plug-in ("00AM"). It is loaded and kept like the other kinds,
// but nothing in the program reads archives through it.
#pragma once

#include "plugins/TLoaderSPI.h"

namespace kevrale {

class TAmSPI : public TLoaderSPI {
 public:
  static const TSPIClassInfo Class;

  explicit TAmSPI(const SpiSource& source) : TAmSPI(source, &Checks) {}

  TSPIClass ClassType() const override { return &Class; }
  void CheckAPIs() const override { Checks(*this); }

 protected:
  TAmSPI(const SpiSource& source, Checker check) : TLoaderSPI(source, check) {}
  // GetPluginInfo, IsSupported, GetArchiveInfo, GetFileInfo, GetFile.
  static void Checks(const TSPI& spi);
};

}  // namespace kevrale

// A plug-in of version "00XN". It is loaded and kept like the other kinds;
// nothing in the program calls it beyond its information.
#pragma once

#include "plugins/TSPI.h"

namespace kevrale {

class TXnSPI : public TSPI {
 public:
  static const TSPIClassInfo Class;

  explicit TXnSPI(const SpiSource& source) : TXnSPI(source, &Checks) {}

  TSPIClass ClassType() const override { return &Class; }
  void CheckAPIs() const override { Checks(*this); }

 protected:
  TXnSPI(const SpiSource& source, Checker check) : TSPI(source, check) {}
};

}  // namespace kevrale

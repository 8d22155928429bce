// A plug-in of version "00XN". It is loaded and kept like the other kinds;
// nothing in the program calls it beyond its information.
#pragma once

#include "plugins/TSPI.h"

namespace kevrale {

class TXnSPI : public TSPI {
 public:
  static const TSPIClassInfo Class;

  explicit TXnSPI(const std::string& file_name) : TXnSPI(file_name, &Checks) {}

  TSPIClass ClassType() const override { return &Class; }
  void CheckAPIs() const override { Checks(*this); }

 protected:
  TXnSPI(const std::string& file_name, Checker check) : TSPI(file_name, check) {}
};

}  // namespace kevrale

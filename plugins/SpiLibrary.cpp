#include "plugins/SpiLibrary.h"

#include "plugins/LoadedSpiLibrary.h"

namespace kevrale {

std::shared_ptr<SpiLibrary> SpiSource::Open() const {
  if (!open_) return std::make_shared<LoadedSpiLibrary>(file_name_);
  if (!opened_) opened_ = open_(file_name_);
  return opened_;
}

}  // namespace kevrale

#include "plugins/TLoaderSPI.h"

namespace kevrale {

const TSPIClassInfo TLoaderSPI::Class("TLoaderSPI", &TSPI::Class,
                                      &MakeInstance<TLoaderSPI, TSPI, const SpiSource&>);

void TLoaderSPI::Checks(const TSPI& spi) {
  TSPI::Checks(spi);
  Require(spi, SpiEntry::IsSupported, "IsSupported");
}

int32_t TLoaderSPI::IsSupported(const char* file_name, intptr_t dw) const {
  Require(*this, SpiEntry::IsSupported, "IsSupported");
  return Library().IsSupported(file_name, dw);
}

}  // namespace kevrale

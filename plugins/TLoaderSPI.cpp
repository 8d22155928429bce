#include "plugins/TLoaderSPI.h"

namespace kevrale {

const TSPIClassInfo TLoaderSPI::Class("TLoaderSPI", &TSPI::Class,
                                      &MakeInstance<TLoaderSPI, TSPI, const std::string&>);

void TLoaderSPI::Checks(const TSPI& spi) {
  TSPI::Checks(spi);
  Require(spi, spi.EntryPoints().IsSupported != nullptr, "IsSupported");
}

int32_t TLoaderSPI::IsSupported(const char* file_name, intptr_t dw) const {
  Require(*this, EntryPoints().IsSupported != nullptr, "IsSupported");
  return EntryPoints().IsSupported(file_name, dw);
}

}  // namespace kevrale

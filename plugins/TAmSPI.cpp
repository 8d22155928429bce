#include "plugins/TAmSPI.h"

namespace kevrale {

const TSPIClassInfo TAmSPI::Class("TAmSPI", &TLoaderSPI::Class,
                                  &MakeInstance<TAmSPI, TSPI, const SpiSource&>);

void TAmSPI::Checks(const TSPI& spi) {
  TLoaderSPI::Checks(spi);
  Require(spi, SpiEntry::GetArchiveInfo, "GetArchiveInfo");
  Require(spi, SpiEntry::GetFileInfo, "GetFileInfo");
  Require(spi, SpiEntry::GetFile, "GetFile");
}

}  // namespace kevrale

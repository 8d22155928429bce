#include "plugins/TAmSPI.h"

namespace kevrale {

const TSPIClassInfo TAmSPI::Class("TAmSPI", &TLoaderSPI::Class,
                                  &MakeInstance<TAmSPI, TSPI, const std::string&>);

void TAmSPI::Checks(const TSPI& spi) {
  TLoaderSPI::Checks(spi);
  Require(spi, spi.EntryPoints().GetArchiveInfo != nullptr, "GetArchiveInfo");
  Require(spi, spi.EntryPoints().GetFileInfo != nullptr, "GetFileInfo");
  Require(spi, spi.EntryPoints().GetFile != nullptr, "GetFile");
}

}  // namespace kevrale

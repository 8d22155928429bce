#include "plugins/TInSPI.h"

namespace kevrale {

const TSPIClassInfo TInSPI::Class("TInSPI", &TLoaderSPI::Class,
                                  &MakeInstance<TInSPI, TSPI, const std::string&>);

void TInSPI::Checks(const TSPI& spi) {
  TLoaderSPI::Checks(spi);
  Require(spi, spi.EntryPoints().GetPictureInfo != nullptr, "GetPictureInfo");
  Require(spi, spi.EntryPoints().GetPicture != nullptr, "GetPicture");
}

int32_t TInSPI::GetPictureInfo(const char* buf, intptr_t len, uint32_t flag,
                               SpiPictureInfo* info) const {
  Require(*this, EntryPoints().GetPictureInfo != nullptr, "GetPictureInfo");
  return EntryPoints().GetPictureInfo(buf, len, flag, info);
}

int32_t TInSPI::GetPicture(const char* buf, intptr_t len, uint32_t flag, SpiHandle* hbinfo,
                           SpiHandle* hbm, SpiProgressCallback progress, intptr_t data) const {
  Require(*this, EntryPoints().GetPicture != nullptr, "GetPicture");
  return EntryPoints().GetPicture(buf, len, flag, hbinfo, hbm, progress, data);
}

int32_t TInSPI::GetPreview(const char* buf, intptr_t len, uint32_t flag, SpiHandle* hbinfo,
                           SpiHandle* hbm, SpiProgressCallback progress, intptr_t data) const {
  Require(*this, EntryPoints().GetPreview != nullptr, "GetPreview");
  return EntryPoints().GetPreview(buf, len, flag, hbinfo, hbm, progress, data);
}

}  // namespace kevrale

#include "plugins/TInSPI.h"

namespace kevrale {

const TSPIClassInfo TInSPI::Class("TInSPI", &TLoaderSPI::Class,
                                  &MakeInstance<TInSPI, TSPI, const SpiSource&>);

void TInSPI::Checks(const TSPI& spi) {
  TLoaderSPI::Checks(spi);
  Require(spi, SpiEntry::GetPictureInfo, "GetPictureInfo");
  Require(spi, SpiEntry::GetPicture, "GetPicture");
}

int32_t TInSPI::GetPictureInfo(const char* buf, intptr_t len, uint32_t flag,
                               SpiPictureInfo* info) const {
  Require(*this, SpiEntry::GetPictureInfo, "GetPictureInfo");
  return Library().GetPictureInfo(buf, len, flag, info);
}

int32_t TInSPI::GetPicture(const char* buf, intptr_t len, uint32_t flag, SpiHandle* hbinfo,
                           SpiHandle* hbm, SpiProgressCallback progress, intptr_t data) const {
  Require(*this, SpiEntry::GetPicture, "GetPicture");
  return Library().GetPicture(buf, len, flag, hbinfo, hbm, progress, data);
}

int32_t TInSPI::GetPreview(const char* buf, intptr_t len, uint32_t flag, SpiHandle* hbinfo,
                           SpiHandle* hbm, SpiProgressCallback progress, intptr_t data) const {
  Require(*this, SpiEntry::GetPreview, "GetPreview");
  return Library().GetPreview(buf, len, flag, hbinfo, hbm, progress, data);
}

}  // namespace kevrale

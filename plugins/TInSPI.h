// An import plug-in ("00IN"): decodes image files into device-independent
// bitmaps.
#pragma once

#include "plugins/TLoaderSPI.h"

namespace kevrale {

class TInSPI : public TLoaderSPI {
 public:
  static const TSPIClassInfo Class;

  explicit TInSPI(const SpiSource& source) : TInSPI(source, &Checks) {}

  TSPIClass ClassType() const override { return &Class; }
  void CheckAPIs() const override { Checks(*this); }

  // The picture functions. `flag` SPI_INPUT_FILE: `buf` is a NUL-terminated
  // file name and `len` the offset of the image in it; SPI_INPUT_MEMORY:
  // `buf` addresses the image data and `len` is its size. Each returns the
  // plug-in's result unchanged (SPI_SUCCESS on success).
  int32_t GetPictureInfo(const char* buf, intptr_t len, uint32_t flag, SpiPictureInfo* info) const;
  // On success the plug-in has stored two local-memory handles that belong
  // to the caller: the bitmap information and the pixel bits.
  int32_t GetPicture(const char* buf, intptr_t len, uint32_t flag, SpiHandle* hbinfo,
                     SpiHandle* hbm, SpiProgressCallback progress, intptr_t data) const;
  // As GetPicture, for the plug-in's preview image. GetPreview is optional:
  // a plug-in without it raises ESPIInvalidAPI here.
  int32_t GetPreview(const char* buf, intptr_t len, uint32_t flag, SpiHandle* hbinfo,
                     SpiHandle* hbm, SpiProgressCallback progress, intptr_t data) const;

 protected:
  TInSPI(const SpiSource& source, Checker check) : TLoaderSPI(source, check) {}
  // GetPluginInfo, IsSupported, GetPictureInfo, GetPicture.
  static void Checks(const TSPI& spi);
};

}  // namespace kevrale

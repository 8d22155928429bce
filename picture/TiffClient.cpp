#include "picture/TiffClient.h"

#include <string>

namespace kevrale {

namespace {

int CloseNothing(thandle_t) {
  return 0;
}

int MapNothing(thandle_t, void**, toff_t*) {
  return 0;
}

void UnmapNothing(thandle_t, void*, toff_t) {}

int Quiet(TIFF*, void*, const char*, const char*, va_list) {
  return 1;
}

}  // namespace

TiffHandle OpenTiffClient(const char* mode, thandle_t handle, TIFFReadWriteProc read,
                          TIFFReadWriteProc write, TIFFSeekProc seek, TIFFSizeProc size,
                          tmsize_t max_alloc) {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (options == nullptr) return nullptr;
  if (max_alloc > 0) TIFFOpenOptionsSetMaxSingleMemAlloc(options, max_alloc);
  TIFFOpenOptionsSetErrorHandlerExtR(options, Quiet, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options, Quiet, nullptr);
  // "m": no memory mapping, the data is a stream.
  const std::string flags = std::string(mode) + "m";
  TiffHandle tif(TIFFClientOpenExt("stream", flags.c_str(), handle, read, write, seek, CloseNothing,
                                   size, MapNothing, UnmapNothing, options));
  TIFFOpenOptionsFree(options);
  return tif;
}

}  // namespace kevrale

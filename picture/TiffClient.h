// libtiff on a stream of the program's (the TIFF writer's output, the TIFF
// row source's input): no memory mapping, no closing of anything, and no
// message to the terminal (a failure shows in the results of libtiff's
// calls).
#pragma once

#include <tiffio.h>

#include <memory>

namespace kevrale {

struct TiffCloser {
  void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

// Opens `handle` with the given procedures in `mode` ("r" or "w"); a
// single allocation of libtiff's is limited to `max_alloc` bytes where it
// is above 0. Null where libtiff refuses.
TiffHandle OpenTiffClient(const char* mode, thandle_t handle, TIFFReadWriteProc read,
                          TIFFReadWriteProc write, TIFFSeekProc seek, TIFFSizeProc size,
                          tmsize_t max_alloc = 0);

}  // namespace kevrale

// Feeds arbitrary info and bits blocks, as an import plug-in hands them
// back, through the whole decoding path: the data source's check of the
// DIB, the derived facts, rendering, the BMP form and the BMP reader.
//
// Whatever the check lets through must be safe to read, must write a BMP
// that the BMP reader accepts, and must render as that BMP reads.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "picture/TBitmap.h"
#include "platform/Exception.h"
#include "platform/Stream.h"
#include "plugins/TSPIGraphic.h"
#include "plugins/TSPIs.h"

namespace {

kevrale::TSPIs& Host() {
  static kevrale::TSPIs* host = [] {
    auto* h = new kevrale::TSPIs;
    h->SearchOptions = kevrale::TSPISearchOptions{};
    h->MacBinary = false;
    h->Search(std::string(KEVRALE_FUZZ_DIB_SPI_DIR) + "/*.spi");
    if (h->Count() != 1) {
      std::fprintf(stderr, "fuzz_dib: the fuzz plug-in is missing from %s\n",
                   KEVRALE_FUZZ_DIB_SPI_DIR);
      std::abort();
    }
    return h;
  }();
  return *host;
}

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "fuzz_dib: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Host();
  kevrale::TMemoryStream input(std::vector<uint8_t>(data, data + size));
  kevrale::TSPIGraphic graphic;
  try {
    graphic.LoadFromStream(input);
  } catch (const kevrale::EInvalidGraphic&) {
    return 0;  // refused: the usual outcome
  }
  const int width = graphic.Width();
  const int height = graphic.Height();
  if (width <= 0 || height == 0) Fail("an image without pixels was taken");

  const kevrale::ArgbImage rendered = graphic.Render();
  const kevrale::TPalette palette = graphic.Palette();
  if (palette.size() != graphic.ColorCount()) Fail("the palette does not match the table");

  kevrale::TMemoryStream bmp;
  graphic.SaveToStream(bmp);
  if (uint64_t(bmp.Size()) != 14u + graphic.InfoSize() + graphic.ImageSize())
    Fail("the BMP form has the wrong size");
  bmp.SetPosition(0);
  kevrale::TBitmap bitmap;
  try {
    bitmap.LoadFromStream(bmp);
  } catch (const kevrale::EInvalidGraphic&) {
    Fail("the BMP reader refused a DIB that passed the check");
  }
  if (bitmap.Render().pixels != rendered.pixels) Fail("the BMP form reads as another picture");

  // The converting path that TSPIBitmap takes frees the DIB on the way.
  const auto converted = graphic.ConvertToAndFree(&kevrale::TBitmap::Class);
  if (!graphic.Empty()) Fail("ConvertToAndFree kept the image");
  if (converted->Render().pixels != rendered.pixels) Fail("the conversion differs");
  return 0;
}

// libFuzzer target: arbitrary bytes through the icon reader. A clean
// refusal is EInvalidGraphic; anything else escaping is a fault.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "picture/TIcon.h"
#include "platform/Exception.h"
#include "platform/Stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kevrale;
  TBorrowedMemoryStream stream(data, size);
  TIcon icon;
  try {
    icon.LoadFromStream(stream);
  } catch (const EInvalidGraphic&) {
    return 0;
  }
  const ArgbImage image = icon.Render();
  if (image.pixels.size() != size_t(icon.Width()) * size_t(icon.Height())) std::abort();
  return 0;
}

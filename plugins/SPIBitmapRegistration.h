// Makes TSPIBitmap the graphic kind that the plug-in host registers for the
// extensions of its import plug-ins, for as long as this object lives; at
// its end every format-registry entry of that kind is withdrawn. A front
// end's main() holds one before it creates the host.
#pragma once

#include "picture/TPicture.h"
#include "plugins/TSPIBitmap.h"
#include "plugins/TSPIs.h"

namespace kevrale {

class SPIBitmapRegistration {
 public:
  SPIBitmapRegistration() { TSPIs::SetDefaultGraphicClass(&TSPIBitmap::Class); }
  ~SPIBitmapRegistration() { TPicture::UnregisterGraphicClass(&TSPIBitmap::Class); }
  SPIBitmapRegistration(const SPIBitmapRegistration&) = delete;
  SPIBitmapRegistration& operator=(const SPIBitmapRegistration&) = delete;
};

}  // namespace kevrale

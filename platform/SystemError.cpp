#include "platform/SystemError.h"

#include <string.h>

namespace kevrale {

std::string SystemErrorText(int error) {
  if (error == 0) return std::string();
  char buffer[256];
  // The GNU strerror_r returns the text, in the buffer or in static storage.
  return std::string(::strerror_r(error, buffer, sizeof buffer));
}

}  // namespace kevrale

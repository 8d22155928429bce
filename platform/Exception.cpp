#include "platform/Exception.h"

#include <cstring>

namespace kevrale {

std::string SystemErrorText(int error_number) {
  char buffer[256];
  // The GNU strerror_r returns the text, which may or may not be `buffer`.
  return std::string(strerror_r(error_number, buffer, sizeof buffer));
}

}  // namespace kevrale

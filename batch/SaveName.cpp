#include "batch/SaveName.h"

namespace kevrale {

std::string SaveNameFor(const std::string& path) {
  // Names are UTF-8, where no byte of a multi-byte character is ASCII, so a
  // byte scan never mistakes part of a character for "." or "/".
  const size_t at = path.find_last_of("./");
  std::string stem = (at != std::string::npos && path[at] == '.') ? path.substr(0, at) : path;
  return stem + "_s.bmp";
}

}  // namespace kevrale

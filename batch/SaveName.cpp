#include "batch/SaveName.h"

#include "platform/FileName.h"
namespace kevrale {

std::string SaveNameFor(const std::string& path) {
  return std::string(ChangeFileExtToNone(path)) + "_s.bmp";
}

}  // namespace kevrale

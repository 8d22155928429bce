#include "batch/SaveName.h"

#include "platform/FileName.h"

namespace kevrale {

std::string SaveNameFor(const std::string& path) {
  return SaveNameFor(path, "bmp");
}

std::string SaveNameFor(const std::string& path, std::string_view extension) {
  std::string name(ChangeFileExtToNone(path));
  name += "_s.";
  name += extension;
  return name;
}

}  // namespace kevrale

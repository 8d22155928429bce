// A program's folder of its own for one test: the plug-in runner and the
// Windows bridges of the build linked into it, and its folder "plugins"
// for the bundled plug-ins that the test chooses.
#pragma once

#include <filesystem>
#include <string>

#include "TempFolder.h"

namespace kevrale::test {

class ProgramFolder {
 public:
  explicit ProgramFolder(const TempFolder& temp, const std::string& name = "program")
      : path_(temp.Sub(name)), plugins_(temp.Sub(name + "/plugins")) {
    for (const char* program :
         {"kevrale-spi-runner", "kevrale-spi-bridge64.exe", "kevrale-spi-bridge32.exe"}) {
      const std::string built = std::string(KEVRALE_BIN_DIR) + "/" + program;
      if (std::filesystem::exists(built))
        std::filesystem::create_symlink(built, path_ + "/" + program);
    }
  }

  const std::string& Path() const { return path_; }
  // The folder of the bundled plug-ins.
  const std::string& Plugins() const { return plugins_; }

 private:
  std::string path_;
  std::string plugins_;
};

}  // namespace kevrale::test

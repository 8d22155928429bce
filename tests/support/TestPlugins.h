// The test plug-ins that the test tree builds (tests/support/spi), in a
// folder of their own, away from the program's folder, so that the program
// never loads them; tests copy them where each test needs them.
#pragma once

#include <filesystem>
#include <string>

namespace kevrale::test {

// The built test plug-in `name` ("in_png" for in_png.spi).
inline std::string TestSpi(const std::string& name) {
  return std::string(KEVRALE_TEST_SPI_DIR) + "/" + name + ".spi";
}

// Copies test plug-in `name` into `folder` as `as` (default: its own name);
// returns the copy's path.
inline std::string CopySpi(const std::string& name, const std::string& folder,
                           std::string as = std::string()) {
  if (as.empty()) as = name + ".spi";
  const std::string target = folder + "/" + as;
  std::filesystem::copy_file(TestSpi(name), target,
                             std::filesystem::copy_options::overwrite_existing);
  return target;
}

}  // namespace kevrale::test

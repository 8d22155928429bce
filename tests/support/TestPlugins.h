// The test plug-ins that the test tree builds (tests/support/spi), in a
// folder of their own, away from the program's folder, so that the program
// never loads them; tests copy them where each test needs them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

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

// Writes a file that reads as a Windows DLL for `machine` (0x8664 AMD64,
// 0x14c i386): a PE header and nothing that runs. Enough for everything
// that does not start it.
inline void WriteWindowsDllHeader(const std::string& path, uint16_t machine = 0x8664) {
  std::vector<char> bytes(1024, 0);
  bytes[0] = 'M';
  bytes[1] = 'Z';
  bytes[0x3C] = 0x40;
  bytes[0x40] = 'P';
  bytes[0x41] = 'E';
  bytes[0x44] = char(machine & 0xFF);
  bytes[0x45] = char(machine >> 8);
  std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

}  // namespace kevrale::test

// What the Windows plug-in tests share: the test DLLs' place, and why the
// 64-bit or the 32-bit bridge cannot be tried on this machine.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "ipc/WineSetup.h"

namespace kevrale::test {

// A KVT test decoder built as a Windows DLL.
inline std::string WindowsSpi(const std::string& name) {
  return std::string(KEVRALE_TEST_SPI_DIR) + "/win/" + name + ".spi";
}

// Why the 64-bit bridge cannot be tried here; empty when it can.
inline std::string Missing64(const WineOptions& wine = WineOptions()) {
  if (!std::filesystem::exists(wine.loader64))
    return "Wine is not installed (" + wine.loader64 + ")";
  if (!std::filesystem::exists(std::string(KEVRALE_BIN_DIR) + "/kevrale-spi-bridge64.exe") ||
      !std::filesystem::exists(WindowsSpi("kvtwin64")))
    return "x86_64-w64-mingw32-gcc was not there to build the bridge and the test DLL";
  return std::string();
}

// Why the 32-bit bridge cannot be tried here; empty when it can (through
// either loader).
inline std::string Missing32(const WineOptions& wine = WineOptions()) {
  if (!std::filesystem::exists(wine.loader64) && !std::filesystem::exists(wine.loader32))
    return "Wine is not installed (" + wine.loader64 + ")";
  if (!std::filesystem::exists(wine.loader32) && !HasWine32Dlls(wine))
    return "Wine's i386 part is not installed (scripts/install-deps.sh installs wine32:i386)";
  if (!std::filesystem::exists(std::string(KEVRALE_BIN_DIR) + "/kevrale-spi-bridge32.exe") ||
      !std::filesystem::exists(WindowsSpi("kvtwin32")))
    return "i686-w64-mingw32-gcc was not there to build the bridge and the test DLL";
  return std::string();
}

}  // namespace kevrale::test

#define REQUIRE_WINE64()                                      \
  do {                                                        \
    const std::string missing = ::kevrale::test::Missing64(); \
    if (!missing.empty()) GTEST_SKIP() << missing;            \
  } while (false)

#define REQUIRE_WINE32()                                      \
  do {                                                        \
    const std::string missing = ::kevrale::test::Missing32(); \
    if (!missing.empty()) GTEST_SKIP() << missing;            \
  } while (false)

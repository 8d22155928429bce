// Regression files of the plug-in fuzzers: each decodes cleanly or is
// refused with a result code, on memory input and from a file.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>

#include "SpiTestSupport.h"

namespace kevrale::spitest {
namespace {

TEST(SpiCrashers, EveryRegressionFileIsDecodedOrRefusedCleanly) {
  const std::filesystem::path folder = KEVRALE_SOURCE_DIR "/tests/spi/crashers";
  ASSERT_TRUE(std::filesystem::is_directory(folder)) << folder;
  std::map<std::string, std::unique_ptr<Plugin>> plugins;
  for (const char* format : kFormats) plugins[format] = std::make_unique<Plugin>(format);
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name == "README.md") continue;
    SCOPED_TRACE(name);
    const auto plugin = plugins.find(name.substr(0, name.find('-')));
    ASSERT_NE(plugin, plugins.end()) << "the name does not start with a format";
    ASSERT_TRUE(plugin->second->Loaded()) << plugin->second->Path();
    const std::vector<uint8_t> bytes = ReadBytes(entry.path().string());
    for (const Decoded& d :
         {DecodeMemory(*plugin->second, bytes), DecodeFileWithOffset(*plugin->second, bytes)}) {
      EXPECT_TRUE(d.result == 0 || d.result == 1 || d.result == 2 || d.result == 3 ||
                  d.result == 4 || d.result == 6 || d.result == 8)
          << "result " << d.result;
      if (d.result == 0) {
        EXPECT_TRUE(d.dib_ok);
      }
    }
    ++count;
  }
  if (count == 0) GTEST_SKIP() << "no regression files yet";
}

}  // namespace
}  // namespace kevrale::spitest

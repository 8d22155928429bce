// Regression files of the plug-in fuzzers: each gives the result it is
// pinned to, on memory input and from a file, so that the fault it was
// kept for cannot come back as some other answer.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>

#include "SpiTestSupport.h"

namespace kevrale::spitest {
namespace {

// Every file of the folder and the result its plug-in must give. A new
// file needs its line here.
const std::map<std::string, int32_t> kExpected = {
    // giflib fails inside the frame without an error code; the half-read
    // frame must not pass for a picture.
    {"gif-frame-used-after-a-failed-read", SPI_BROKEN_DATA},
};

TEST(SpiCrashers, EveryRegressionFileGivesItsPinnedResult) {
  const std::filesystem::path folder = KEVRALE_SOURCE_DIR "/tests/spi/crashers";
  ASSERT_TRUE(std::filesystem::is_directory(folder)) << folder;
  std::map<std::string, std::unique_ptr<Plugin>> plugins;
  for (const char* format : kFormats) plugins[format] = std::make_unique<Plugin>(format);
  size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name == "README.md") continue;
    SCOPED_TRACE(name);
    const auto expected = kExpected.find(name);
    ASSERT_NE(expected, kExpected.end()) << "no result is pinned for this file";
    const auto plugin = plugins.find(name.substr(0, name.find('-')));
    ASSERT_NE(plugin, plugins.end()) << "the name does not start with a format";
    ASSERT_TRUE(plugin->second->Loaded()) << plugin->second->Path();
    const std::vector<uint8_t> bytes = ReadBytes(entry.path().string());
    const Decoded memory = DecodeMemory(*plugin->second, bytes);
    const Decoded file = DecodeFileWithOffset(*plugin->second, bytes);
    EXPECT_EQ(memory.result, expected->second) << "memory input";
    EXPECT_EQ(file.result, expected->second) << "file input";
    if (expected->second == SPI_SUCCESS) {
      EXPECT_TRUE(memory.dib_ok);
      EXPECT_EQ(memory.raw, file.raw);
    }
    ++count;
  }
  EXPECT_EQ(count, kExpected.size()) << "a pinned file is missing from the folder";
}

}  // namespace
}  // namespace kevrale::spitest

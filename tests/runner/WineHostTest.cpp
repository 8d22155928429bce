// A Windows plug-in in the Susie folder, as a user installs one, 64-bit and
// 32-bit: the host runs it through the bridge under Wine and opens its
// files, keeps its answers so that the next start lists it without starting
// Wine, and the command line thins a list of a hundred of its files with two
// workers.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "DecodingSupport.h"
#include "Environment.h"
#include "ProgramFolder.h"
#include "WineSupport.h"
#include "picture/TPicture.h"
#include "plugins/ProgramPluginHost.h"
#include "plugins/SPIBitmapRegistration.h"
#include "tests/cli/CliProcess.h"
#include "thinning/ThinningEngine.h"

namespace kevrale::test {
namespace {

namespace fs = std::filesystem;

// A white picture with a black bar three pixels thick at row `row`.
Pixels Bar(int row) {
  return MakePixels(12, 12, [row](int, int y) {
    return y >= row && y < row + 3 ? RGB(0, 0, 0) : RGB(255, 255, 255);
  });
}

class WineHost : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    if (I386())
      REQUIRE_WINE32();
    else
      REQUIRE_WINE64();
    dll_ = susie_ + "/ifkvtwin.spi";
    fs::copy_file(WindowsSpi(GetParam()), dll_);
    // The tests share the build tree's prefix, made once under its lock.
    WineOptions wine;
    wine.prefix = KEVRALE_TEST_WINE_PREFIX;
    ASSERT_EQ(EnsureWinePrefix(wine, wine.loader64), "");
  }

  static bool I386() { return std::string(GetParam()) == "kvtwin32"; }

  ProgramPluginSettings Settings() const {
    ProgramPluginSettings settings;
    settings.program_folder = program_.Path();
    settings.cache_folder = temp_.File("cache");
    settings.time_limit_seconds = 120;
    settings.wine.prefix = KEVRALE_TEST_WINE_PREFIX;
    return settings;
  }

  TempFolder temp_;
  ProgramFolder program_{temp_};
  std::string susie_ = temp_.Sub("susie");
  ScopedSusieFolder setting_{temp_, susie_};
  std::string dll_;
};

TEST_P(WineHost, APluginOfTheSusieFolderOpensItsFilesAndIsListedFromTheCacheNextTime) {
  SPIBitmapRegistration registration;
  const std::string file = temp_.File("picture.kvt");
  WriteBytes(file, KvtBytes(FourColours()));
  {
    std::unique_ptr<TSPIs> host = CreateProgramPluginHost(Settings());
    ASSERT_EQ(host->Count(), 1) << (host->Skipped().empty() ? "" : host->Skipped()[0].Text());
    const auto& library = dynamic_cast<const ProcessSpiLibrary&>(host->Items(0).Library());
    EXPECT_FALSE(library.FromCache());
    EXPECT_EQ(library.Machine().kind, I386() ? PeMachine::Kind::I386 : PeMachine::Kind::Amd64);
    EXPECT_EQ(host->Items(0).Extensions(), std::vector<std::string>{"*.kvt"});
    TPicture picture;
    picture.LoadFromFile(file);
    EXPECT_EQ(PixelsOf(picture.Bitmap()), FourColours());
    EXPECT_EQ(library.RunningProcesses(), 1u);  // the search's bridge served the decode too
  }
  // The next start, with a "Wine" that only notes that it ran.
  const std::string runs = temp_.File("runs.log");
  const std::string loader =
      temp_.Write("wine.sh", "#!/bin/sh\necho ran >> '" + runs + "'\nexit 1\n");
  chmod(loader.c_str(), 0755);
  ProgramPluginSettings settings = Settings();
  settings.wine.loader64 = loader;
  settings.wine.loader32 = loader;
  std::unique_ptr<TSPIs> host = CreateProgramPluginHost(settings);
  ASSERT_EQ(host->Count(), 1);
  const auto& library = dynamic_cast<const ProcessSpiLibrary&>(host->Items(0).Library());
  EXPECT_TRUE(library.FromCache());
  EXPECT_EQ(host->Items(0).APIVersion(), "00IN");
  EXPECT_EQ(host->Items(0).PluginName(), "KVT test decoder for Windows");
  EXPECT_EQ(host->Items(0).Extensions(), std::vector<std::string>{"*.kvt"});
  EXPECT_EQ(host->Items(0).Descriptions(), std::vector<std::string>{"KVT test image"});
  EXPECT_FALSE(fs::exists(runs));
}

TEST_P(WineHost, TheCommandLineThinsAListOfAHundredFilesThroughIt) {
  // Kevrale's prefix in the user's data folder is the build tree's one.
  fs::create_directories(temp_.File("data/kevrale"));
  fs::create_directory_symlink(KEVRALE_TEST_WINE_PREFIX, temp_.File("data/kevrale/wine"));
  std::ofstream list(temp_.File("list.txt"));
  for (int i = 0; i < 100; ++i) {
    const std::string name = std::string("e") + std::to_string(i) + ".kvt";
    WriteBytes(temp_.File(name), KvtBytes(Bar(i % 9)));
    list << name << "\n";
  }
  list.close();
  const std::string thin = "XDG_CONFIG_HOME=" + Quote(temp_.File("config")) +
                           " XDG_DATA_HOME=" + Quote(temp_.File("data")) +
                           " XDG_CACHE_HOME=" + Quote(temp_.File("cache")) + " " +
                           Quote(KEVRALE_BIN_DIR "/kevrale-thin") + " ";
  const RunResult r =
      RunCommand(thin + "-j 2 --keep-going --list " + Quote(temp_.File("list.txt")));
  ASSERT_EQ(r.status, 0) << r.output;
  std::vector<Pixels> expected;
  for (int row = 0; row < 9; ++row) {
    WriteBytes(temp_.File("expected.bmp"), BmpBytes(Bar(row)));
    TPicture picture;
    picture.LoadFromFile(temp_.File("expected.bmp"));
    ASSERT_EQ(RunThinning(picture, RGB(0, 0, 0), RGB(255, 255, 255)), ThinningResult::Thinned);
    expected.push_back(PixelsOf(picture.Bitmap()));
  }
  for (int i = 0; i < 100; ++i) {
    TPicture result;
    result.LoadFromFile(temp_.File(std::string("e") + std::to_string(i) + "_s.bmp"));
    EXPECT_EQ(PixelsOf(result.Bitmap()), expected[size_t(i % 9)]) << i;
  }

  const RunResult formats = RunCommand(thin + "--formats");
  ASSERT_EQ(formats.status, 0) << formats.output;
  // The first line after the one of the confinement.
  const size_t second = formats.output.find('\n') + 1;
  EXPECT_EQ(formats.output.substr(second, formats.output.find('\n', second) - second),
            "kvt\tKVT test image\t" + dll_ + (I386() ? "\tWindows i386" : "\tWindows AMD64"));
}

INSTANTIATE_TEST_SUITE_P(MachineTypes, WineHost, ::testing::Values("kvtwin64", "kvtwin32"));

}  // namespace
}  // namespace kevrale::test

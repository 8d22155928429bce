// The host as the front ends create it: the bundled plug-ins first and in
// this process, the plug-ins of the Susie folder and of the program's folder
// after them in plug-in processes (so that they win), libraries that cannot
// be used skipped with their reasons, and Windows plug-ins listed from the
// cache without starting Wine.
#include "plugins/ProgramPluginHost.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "DecodingSupport.h"
#include "Environment.h"
#include "Files.h"
#include "ProgramFolder.h"
#include "TempFolder.h"
#include "TestPlugins.h"
#include "ipc/PluginInfoCache.h"
#include "ipc/PluginProcessErrors.h"
#include "picture/TBitmap.h"
#include "picture/TPicture.h"
#include "plugins/LoadedSpiLibrary.h"
#include "plugins/ProcessSpiLibrary.h"
#include "plugins/SPIBitmapRegistration.h"
#include "plugins/SPIExceptions.h"

namespace kevrale {
namespace {

using test::Contains;
using test::CopySpi;
using test::TempFolder;

const TGraphicClassInfo kListedGraphic("TTestListedGraphic", &TBitmap::Class,
                                       &MakeInstance<TBitmap, TGraphic>);

class ProgramPluginHostTest : public ::testing::Test {
 protected:
  void SetUp() override { TSPIs::SetDefaultGraphicClass(&kListedGraphic); }
  void TearDown() override {
    TSPIs::SetDefaultGraphicClass(nullptr);
    TPicture::UnregisterGraphicClass(&kListedGraphic);
  }

  ProgramPluginSettings Settings() const {
    ProgramPluginSettings settings;
    settings.program_folder = program.Path();
    settings.cache_folder = temp.Sub("cache");
    settings.wine.prefix = temp.Path() + "/wine";
    // Whatever this machine has: Wine's 32-bit Windows DLLs are not there.
    settings.wine.dlls32 = temp.File("no-wine32-dlls");
    return settings;
  }

  static bool InProcess(const TSPI& spi) {
    return dynamic_cast<const LoadedSpiLibrary*>(&spi.Library()) != nullptr;
  }
  static bool InProcesses(const TSPI& spi) {
    return dynamic_cast<const ProcessSpiLibrary*>(&spi.Library()) != nullptr;
  }

  TempFolder temp;
  test::ProgramFolder program{temp};
  std::string susie = temp.Sub("susie");
  test::ScopedSusieFolder setting{temp, susie};
};

TEST_F(ProgramPluginHostTest, HasTheProgramsSettings) {
  std::unique_ptr<TSPIs> host = NewProgramPluginHost(Settings());
  EXPECT_EQ(GlobalSPIs(), host.get());
  EXPECT_EQ(host->SearchOptions, (TSPISearchOptions{spsSusieDir, spsAppDir}));
  EXPECT_FALSE(host->GraphicPreview);
  EXPECT_TRUE(host->AutoSearch);
  EXPECT_TRUE(host->MacBinary);
  EXPECT_TRUE(host->ModuleFactory);
  EXPECT_EQ(host->Count(), 0);  // not searched yet
  EXPECT_THROW(CreateProgramPluginHost(Settings()), ESPIDupCreateSPIs);
  EXPECT_EQ(GlobalSPIs(), host.get());
}

TEST_F(ProgramPluginHostTest, BundledPluginsComeFirstAndThoseTheUserInstalledWin) {
  const std::string bundled = CopySpi("kvt_basic", program.Plugins(), "bundled.spi");
  const std::string user = CopySpi("kvt_second", susie, "user.spi");
  const std::string beside = CopySpi("in_png", program.Path(), "beside.spi");
  std::unique_ptr<TSPIs> host = CreateProgramPluginHost(Settings());
  ASSERT_EQ(host->Count(), 3);
  EXPECT_EQ(host->Items(0).FileName(), bundled);
  EXPECT_EQ(host->Items(1).FileName(), user);
  EXPECT_EQ(host->Items(2).FileName(), beside);
  EXPECT_TRUE(InProcess(host->Items(0)));
  EXPECT_NE(host->Items(0).Handle(), nullptr);
  for (int i : {1, 2}) {
    EXPECT_TRUE(InProcesses(host->Items(i))) << i;
    EXPECT_EQ(host->Items(i).Handle(), nullptr) << i;
  }
  EXPECT_TRUE(host->Skipped().empty());

  // Both claim .kvt: the one the user installed is asked first ...
  std::vector<TSPI*> order;
  host->CollectSPIs({&TInSPI::Class}, "a.kvt", order);
  ASSERT_EQ(order.size(), 3u);
  EXPECT_EQ(order[0]->FileName(), user);
  EXPECT_EQ(order[1]->FileName(), bundled);

  // ... and decodes the picture in its process; the bundled one is not asked.
  host.reset();
  TSPIs::SetDefaultGraphicClass(nullptr);
  SPIBitmapRegistration registration;
  test::DecoderLog log;                           // before the processes start, which inherit it
  ProgramPluginSettings unconfined = Settings();  // the log is a file they write
  unconfined.confine_plugins = false;
  host = CreateProgramPluginHost(unconfined);
  log.Clear();
  const std::string file = temp.File("picture.kvt");
  test::WriteBytes(file, test::KvtBytes(test::FourColours()));
  TPicture picture;
  picture.LoadFromFile(file);
  EXPECT_EQ(test::PixelsOf(picture.Bitmap()), test::FourColours());
  const std::vector<std::string> lines = log.Lines();
  ASSERT_FALSE(lines.empty());
  for (const std::string& line : lines) EXPECT_TRUE(line.starts_with("kvt_second ")) << line;
  EXPECT_TRUE(lines.back().starts_with("kvt_second GetPicture file=" + file)) << lines.back();
}

TEST_F(ProgramPluginHostTest, ANativePluginIsListedFromTheCacheAndOneThatHangsCostsOneStart) {
  const std::string sound = CopySpi("kvt_basic", susie, "a_sound.spi");
  const std::string hangs = CopySpi("kvt_info_hang", susie, "b_hangs.spi");
  ProgramPluginSettings settings = Settings();
  settings.time_limit_seconds = 1;
  for (int start = 0; start < 2; ++start) {
    SCOPED_TRACE(start == 0 ? "first start" : "second start");
    std::unique_ptr<TSPIs> host = CreateProgramPluginHost(settings);
    ASSERT_EQ(host->Count(), 1);
    const auto& library = dynamic_cast<const ProcessSpiLibrary&>(host->Items(0).Library());
    EXPECT_EQ(library.FromCache(), start == 1);
    // From the cache, nothing runs until a picture needs the plug-in.
    EXPECT_EQ(library.RunningProcesses(), start == 0 ? 1u : 0u);
    ASSERT_EQ(host->Skipped().size(), 1u);
    const std::string text = host->Skipped()[0].Text();
    EXPECT_TRUE(Contains(text, hangs + ": the plug-in gave no answer within 1 s")) << text;
    EXPECT_EQ(Contains(text, "at an earlier start"), start == 1) << text;
  }
  // A changed file is asked again.
  test::WriteBytes(hangs, test::ReadBytes(test::TestSpi("kvt_info_hang")));
  std::unique_ptr<TSPIs> host = CreateProgramPluginHost(settings);
  ASSERT_EQ(host->Skipped().size(), 1u);
  EXPECT_FALSE(Contains(host->Skipped()[0].Text(), "at an earlier start"));
}

TEST_F(ProgramPluginHostTest, LibrariesThatCannotBeUsedAreSkippedAndTheStartGoesOn) {
  const std::string good = CopySpi("kvt_basic", susie, "b_good.spi");
  CopySpi("nogpi", susie, "a_nogpi.spi");
  CopySpi("in_nopicture", susie, "c_nopicture.spi");
  test::WriteText(susie + "/d_text.spi", "not a library");
  std::unique_ptr<TSPIs> host = CreateProgramPluginHost(Settings());
  ASSERT_EQ(host->Count(), 1);
  EXPECT_EQ(host->Items(0).FileName(), good);
  ASSERT_EQ(host->Skipped().size(), 3u);
  EXPECT_EQ(host->Skipped()[0].Text(),
            "GetPluginInfoは[" + susie + "/a_nogpi.spi]では使えないSusie Plugin APIです");
  EXPECT_EQ(host->Skipped()[1].Text(),
            "GetPictureは[" + susie + "/c_nopicture.spi]では使えないSusie Plugin APIです");
  EXPECT_EQ(host->Skipped()[2].ErrorClass, "ESPIFOpenErrorSPI");
  EXPECT_EQ(host->Skipped()[2].Message, susie + "/d_text.spi:Susie Pluginがロードできませんでした");
  EXPECT_TRUE(Contains(host->Skipped()[2].Reason, "d_text.spi")) << host->Skipped()[2].Reason;
}

TEST_F(ProgramPluginHostTest, APluginWhoseProcessCannotStartIsSkippedWithTheReason) {
  CopySpi("kvt_basic", susie);
  std::filesystem::remove(program.Path() + "/kevrale-spi-runner");
  std::unique_ptr<TSPIs> host = CreateProgramPluginHost(Settings());
  EXPECT_EQ(host->Count(), 0);
  ASSERT_EQ(host->Skipped().size(), 1u);
  EXPECT_EQ(host->Skipped()[0].ErrorClass, "ESPIInvalidSPI");
  EXPECT_EQ(host->Skipped()[0].Message,
            susie + "/kvt_basic.spi: the plug-in process could not be started: " + program.Path() +
                "/kevrale-spi-runner is missing");
}

// A Windows plug-in known from the cache, and a Wine "loader" that only
// notes that it ran.
class WindowsPluginCacheTest : public ProgramPluginHostTest {
 protected:
  void SetUp() override {
    ProgramPluginHostTest::SetUp();
    dll = susie + "/ifwin.spi";
    test::WriteWindowsDllHeader(dll);
    const std::string bridge = program.Path() + "/kevrale-spi-bridge64.exe";
    if (!std::filesystem::exists(bridge)) test::WriteText(bridge, "not run");
    test::WriteText(loader, "#!/bin/sh\necho \"$@\" >> '" + runs + "'\nexit 1\n");
    chmod(loader.c_str(), 0755);
    std::filesystem::create_directories(temp.Path() + "/wine");
    test::WriteText(temp.Path() + "/wine/.kevrale-ready", "");
  }

  ProgramPluginSettings WineSettings() const {
    ProgramPluginSettings settings = Settings();
    settings.wine.loader64 = loader;
    settings.wine.loader32 = loader;
    return settings;
  }

  // What the plug-in answered at its first start.
  static PluginInfoRecord Answers() {
    PluginInfoRecord record;
    record.Exports = uint32_t(SpiEntry::GetPluginInfo) | uint32_t(SpiEntry::IsSupported) |
                     uint32_t(SpiEntry::GetPictureInfo) | uint32_t(SpiEntry::GetPicture);
    record.Answers = {{0, 255, 4, "00IN"},
                      {1, 255, 12, "Windows test"},
                      {2, 255, 5, "*.win"},
                      {3, 255, 11, "Windows pic"},
                      {4, 255, 0, ""}};
    return record;
  }

  std::string dll;
  std::string loader = temp.File("wine-loader.sh");
  std::string runs = temp.File("runs.log");
};

TEST_F(WindowsPluginCacheTest, ACachedPluginIsListedWithoutStartingWine) {
  PluginInfoCache(Settings().cache_folder).Store(dll, Answers());
  std::unique_ptr<TSPIs> host = CreateProgramPluginHost(WineSettings());
  ASSERT_EQ(host->Count(), 1) << (host->Skipped().empty() ? "" : host->Skipped()[0].Text());
  const TSPI& spi = host->Items(0);
  EXPECT_EQ(spi.ClassType(), &TInSPI::Class);
  EXPECT_EQ(spi.APIVersion(), "00IN");
  EXPECT_EQ(spi.PluginName(), "Windows test");
  EXPECT_EQ(spi.Extensions(), std::vector<std::string>{"*.win"});
  EXPECT_EQ(spi.Descriptions(), std::vector<std::string>{"Windows pic"});
  EXPECT_FALSE(spi.Exports(SpiEntry::GetPreview));
  EXPECT_EQ(TPicture::FindGraphicClass("win"), &kListedGraphic);
  const auto& library = dynamic_cast<const ProcessSpiLibrary&>(spi.Library());
  EXPECT_TRUE(library.FromCache());
  EXPECT_EQ(library.Machine().kind, PeMachine::Kind::Amd64);
  EXPECT_EQ(library.RunningProcesses(), 0u);
  EXPECT_FALSE(std::filesystem::exists(runs)) << test::ReadText(runs);

  // Opening one of its files is what starts it.
  test::WriteText(temp.File("a.win"), "WIN1 picture");
  std::vector<uint8_t> head(2176, 0);
  EXPECT_THROW(dynamic_cast<const TInSPI&>(spi).IsSupported("a.win", intptr_t(head.data())),
               EPluginStartFailed);
  EXPECT_TRUE(Contains(test::ReadText(runs), "kevrale-spi-bridge64.exe"));
}

TEST_F(WindowsPluginCacheTest, WithoutAnEntryOrWithAStaleOneThePluginIsStarted) {
  for (const bool stale : {false, true}) {
    SCOPED_TRACE(stale ? "stale" : "missing");
    std::filesystem::remove(runs);
    if (stale) {
      PluginInfoCache(Settings().cache_folder).Store(dll, Answers());
      std::filesystem::resize_file(dll, 2048);  // the file changed since
    }
    std::unique_ptr<TSPIs> host = CreateProgramPluginHost(WineSettings());
    EXPECT_EQ(host->Count(), 0);
    ASSERT_EQ(host->Skipped().size(), 1u);
    EXPECT_EQ(host->Skipped()[0].ErrorClass, "ESPIInvalidSPI");
    EXPECT_TRUE(
        Contains(host->Skipped()[0].Message, dll + ": the plug-in process could not be started: "))
        << host->Skipped()[0].Message;
    EXPECT_TRUE(Contains(test::ReadText(runs), "kevrale-spi-bridge64.exe"));
  }
}

TEST_F(WindowsPluginCacheTest, WithoutWineACachedPluginIsSkippedWithTheReason) {
  PluginInfoCache(Settings().cache_folder).Store(dll, Answers());
  ProgramPluginSettings settings = Settings();
  settings.wine.loader64 = temp.File("no-wine64");
  settings.wine.loader32 = temp.File("no-wine");
  std::unique_ptr<TSPIs> host = CreateProgramPluginHost(settings);
  EXPECT_EQ(host->Count(), 0);
  ASSERT_EQ(host->Skipped().size(), 1u);
  EXPECT_EQ(host->Skipped()[0].Message,
            dll + ": the plug-in process could not be started: Wine is not installed (" +
                settings.wine.loader64 + " is missing)");

  test::WriteWindowsDllHeader(dll, 0x14C);  // a 32-bit one, where only 64-bit Wine is there
  PluginInfoCache(Settings().cache_folder).Store(dll, Answers());
  host.reset();
  settings.wine.loader64 = loader;
  host = CreateProgramPluginHost(settings);
  ASSERT_EQ(host->Skipped().size(), 1u);
  EXPECT_TRUE(Contains(host->Skipped()[0].Message,
                       "it is a 32-bit DLL and 32-bit Wine is not "
                       "installed"))
      << host->Skipped()[0].Message;
}

// A 32-bit DLL where 32-bit Wine's loader is missing, or is no program the
// machine runs: the 64-bit loader starts its bridge when Wine's 32-bit
// Windows DLLs are there (and finds them through WINEDLLPATH); else the
// reason says why neither loader can run it.
TEST_F(WindowsPluginCacheTest, A32BitPluginGoesThroughThe64BitLoaderWhereThe32BitOneCannotRun) {
  test::WriteWindowsDllHeader(dll, 0x14C);
  const std::string bridge = program.Path() + "/kevrale-spi-bridge32.exe";
  if (!std::filesystem::exists(bridge)) test::WriteText(bridge, "not run");
  const std::string dlls32 = temp.Sub("wine32-dlls");
  std::filesystem::create_directories(dlls32 + "/i386-windows");
  test::WriteText(dlls32 + "/i386-windows/kernel32.dll", "");
  // The prefix has its 32-bit part, so it is not updated first.
  std::filesystem::create_directories(temp.Path() + "/wine/drive_c/windows/syswow64");
  test::WriteText(temp.Path() + "/wine/drive_c/windows/syswow64/kernel32.dll", "");
  test::WriteText(loader, "#!/bin/sh\necho \"$@\" \"$WINEDLLPATH\" >> '" + runs + "'\nexit 1\n");
  const std::string no_program = temp.Write("not-a-program", "neither ELF nor script\n");
  chmod(no_program.c_str(), 0755);

  for (const std::string& loader32 : {temp.File("no-wine"), no_program}) {
    SCOPED_TRACE(loader32);
    std::filesystem::remove(runs);
    ProgramPluginSettings settings = WineSettings();
    settings.wine.loader32 = loader32;
    settings.wine.dlls32 = dlls32;
    std::unique_ptr<TSPIs> host = CreateProgramPluginHost(settings);
    ASSERT_EQ(host->Skipped().size(), 1u);  // the stand-in loader runs nothing
    EXPECT_EQ(test::ReadText(runs), program.Path() + "/kevrale-spi-bridge32.exe " + dlls32 + "\n");
  }

  std::filesystem::remove(runs);
  ProgramPluginSettings settings = WineSettings();
  settings.wine.loader32 = no_program;
  std::unique_ptr<TSPIs> host = CreateProgramPluginHost(settings);
  ASSERT_EQ(host->Skipped().size(), 1u);
  EXPECT_EQ(host->Skipped()[0].Message,
            dll +
                ": the plug-in process could not be started: it is a 32-bit DLL and this "
                "machine cannot run 32-bit programs, and Wine's 64-bit loader cannot run it "
                "instead: Wine's 32-bit Windows DLLs are not installed (" +
                settings.wine.dlls32 + "/i386-windows is missing)");
  EXPECT_FALSE(std::filesystem::exists(runs));
}

}  // namespace
}  // namespace kevrale

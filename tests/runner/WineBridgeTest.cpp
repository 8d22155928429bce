// The KVT decoder built as a Windows DLL, run through the bridge under Wine:
// its pictures match the native decoder's byte for byte, its progress calls
// reach the caller, the caller can abort it, and a crash is reported.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "Files.h"
#include "RunnerSupport.h"
#include "WineSupport.h"
#include "ipc/PluginProcessErrors.h"

namespace kevrale::test {
namespace {

PluginProcessOptions BridgeOptions() {
  PluginProcessOptions options = TestOptions(120);
  options.wine.prefix = KEVRALE_TEST_WINE_PREFIX;
  return options;
}

bool Exists(const std::string& path) {
  return access(path.c_str(), F_OK) == 0;
}

// The two ways a 32-bit DLL runs: as this machine allows (32-bit Wine's
// loader where the kernel runs 32-bit programs, else the 64-bit one), and
// through the 64-bit loader, forced by a "32-bit loader" that is no program.
enum class Route32 { AsTheMachineAllows, Through64BitLoader };

const char* Name(Route32 route) {
  return route == Route32::AsTheMachineAllows ? "as the machine allows"
                                              : "through the 64-bit loader";
}

PluginProcessOptions Options32(Route32 route, const TempFolder& folder, int time_limit = 120) {
  PluginProcessOptions options = BridgeOptions();
  options.time_limit_seconds = time_limit;
  if (route == Route32::Through64BitLoader) {
    options.wine.loader32 = folder.Write("not-a-program", "neither ELF nor script\n");
    chmod(options.wine.loader32.c_str(), 0755);
  }
  return options;
}

// The processes of process group `group` that have not ended.
int LiveMembers(pid_t group) {
  int live = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    if (!std::getline(stat, line) || line.rfind(')') == std::string::npos) continue;
    // After the name: state, parent, group.
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    char state = 0;
    long parent = 0, pgrp = 0;
    if (fields >> state >> parent >> pgrp && pgrp == group && state != 'Z') ++live;
  }
  return live;
}

// The members of the group still alive once a SIGKILL to it has had time to
// take effect: the kernel ends them asynchronously, and Wine's starter
// (whose child the bridge is) may be reaped by init only a moment later.
int MembersLeftAfterKill(pid_t group) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  int live = LiveMembers(group);
  while (live != 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    live = LiveMembers(group);
  }
  return live;
}

class WineBridge : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteBytes(plain_, KvtBytes(picture_));
    WriteBytes(prefixed_, KvtBytes(picture_, 128));
  }
  std::vector<Input> Inputs() const {
    return {Input::FromFile(plain_), Input::FromFile(prefixed_, 128),
            Input::FromMemory(KvtBytes(picture_)), Input::FromMemory(KvtBytes(picture_, 128), 128)};
  }

  TempFolder folder_;
  Pixels picture_ = TestPicture(9, 6, 7, 3);
  std::string plain_ = folder_.File("plain.kvt");
  std::string prefixed_ = folder_.File("prefixed.kvt");
};

TEST_F(WineBridge, PicturesMatchTheNativeDecoderByteForByte) {
  REQUIRE_WINE64();
  TInSPI native(TestSpi("kvt_basic"));
  PluginProcess windows(WindowsSpi("kvtwin64"), BridgeOptions());
  EXPECT_EQ(windows.Machine().kind, PeMachine::Kind::Amd64);
  for (const Input& input : Inputs()) {
    SCOPED_TRACE((input.Memory() ? "memory at " : "file at ") + std::to_string(input.Offset));
    const PictureOutcome expected = Picture(native, input);
    ASSERT_EQ(expected.Result, SPI_SUCCESS);
    ASSERT_TRUE(expected.Accepted);
    EXPECT_EQ(Picture(windows, input), expected);
    const InfoOutcome info = PictureInfo(windows, input);
    EXPECT_EQ(info.Result, SPI_SUCCESS);
    EXPECT_EQ(info.Width, picture_.width);
    EXPECT_EQ(info.Height, picture_.height);
    EXPECT_EQ(info.ColorDepth, 24);
    EXPECT_TRUE(info.Text.Null);
    EXPECT_EQ(Picture(windows, input, true), Picture(native, input, true));
  }
  // The bridge's blocks are read straight out of the Windows process.
  EXPECT_TRUE(windows.BlocksInPlace());
}

TEST_F(WineBridge, PicturesThroughThePipeToo) {
  REQUIRE_WINE64();
  TInSPI native(TestSpi("kvt_basic"));
  PluginProcessOptions options = BridgeOptions();
  options.blocks_in_place = false;
  PluginProcess windows(WindowsSpi("kvtwin64"), options);
  for (const Input& input : Inputs()) EXPECT_EQ(Picture(windows, input), Picture(native, input));
  EXPECT_FALSE(windows.BlocksInPlace());
}

TEST_F(WineBridge, InformationAndEntryPoints) {
  REQUIRE_WINE64();
  PluginProcess windows(WindowsSpi("kvtwin64"), BridgeOptions());
  EXPECT_EQ(windows.Exports(), SPI_EXPORTS_GETPLUGININFO | SPI_EXPORTS_ISSUPPORTED |
                                   SPI_EXPORTS_GETPICTUREINFO | SPI_EXPORTS_GETPICTURE |
                                   SPI_EXPORTS_GETPREVIEW);
  const char* const expected[] = {"00IN", "KVT test decoder for Windows", "*.kvt",
                                  "KVT test image"};
  for (int32_t n = 0; n < 4; ++n) {
    char buf[256] = {};
    EXPECT_EQ(windows.GetPluginInfo(n, buf, 255), int32_t(strlen(expected[n])));
    EXPECT_STREQ(buf, expected[n]);
  }
  char none[16] = {};
  EXPECT_EQ(windows.GetPluginInfo(4, none, 15), 0);
  std::vector<uint8_t> head(2176);
  const std::vector<uint8_t> bytes = KvtBytes(picture_);
  std::copy(bytes.begin(), bytes.end(), head.begin());
  EXPECT_EQ(windows.IsSupported(plain_.c_str(), reinterpret_cast<intptr_t>(head.data())), 1);
  head[0] = 'X';
  EXPECT_EQ(windows.IsSupported(plain_.c_str(), reinterpret_cast<intptr_t>(head.data())), 0);
}

TEST_F(WineBridge, AbortFromTheProgressCallback) {
  REQUIRE_WINE64();
  PluginProcess windows(WindowsSpi("kvtwin64"), BridgeOptions());
  for (const size_t at : {size_t(1), size_t(4)}) {
    const PictureOutcome aborted = Picture(windows, Input::FromFile(plain_), false, at);
    EXPECT_EQ(aborted.Result, SPI_ABORTED);
    EXPECT_EQ(aborted.Progress.size(), at);
  }
  EXPECT_EQ(Picture(windows, Input::FromFile(plain_)).Result, SPI_SUCCESS);
}

TEST_F(WineBridge, CrashIsReportedWithItsExceptionAndTheNextCallWorks) {
  REQUIRE_WINE64();
  PluginProcess windows(WindowsSpi("kvtwin64_crash"), BridgeOptions());
  try {
    Picture(windows, Input::FromFile(plain_));
    FAIL() << "no error";
  } catch (const EPluginCrashed& e) {
    EXPECT_EQ(e.Message(),
              WindowsSpi("kvtwin64_crash") + ": the plug-in crashed (exception 0xC0000005)");
  }
  EXPECT_EQ(PictureInfo(windows, Input::FromFile(plain_)).Width, picture_.width);
}

TEST_F(WineBridge, PluginOutputOnStdoutLeavesTheMessagesIntact) {
  REQUIRE_WINE64();
  TInSPI native(TestSpi("kvt_basic"));
  PluginProcess windows(WindowsSpi("kvtwin64_chatty"), BridgeOptions());
  EXPECT_EQ(PictureInfo(windows, Input::FromFile(plain_)).Result, SPI_SUCCESS);
  EXPECT_EQ(Picture(windows, Input::FromFile(plain_)), Picture(native, Input::FromFile(plain_)));
}

TEST_F(WineBridge, NamesOutsideTheAnsiCodePageAreReached) {
  REQUIRE_WINE64();
  TInSPI native(TestSpi("kvt_basic"));
  PluginProcess windows(WindowsSpi("kvtwin64"), BridgeOptions());
  for (const std::string name : {"café.kvt", "線画 1.kvt", "a:b?.kvt"}) {
    std::filesystem::create_directories(folder_.File("名前"));
    const std::string file = folder_.File("名前") + "/" + name;
    WriteBytes(file, KvtBytes(picture_));
    SCOPED_TRACE(file);
    EXPECT_EQ(Picture(windows, Input::FromFile(file)), Picture(native, Input::FromFile(file)));
  }
}

TEST_F(WineBridge, ThirtyTwoBitDllsMatchTheNativeDecoderThroughEitherLoader) {
  REQUIRE_WINE32();
  TInSPI native(TestSpi("kvt_basic"));
  for (const Route32 route : {Route32::AsTheMachineAllows, Route32::Through64BitLoader}) {
    SCOPED_TRACE(Name(route));
    PluginProcess windows(WindowsSpi("kvtwin32"), Options32(route, folder_));
    EXPECT_EQ(windows.Machine().kind, PeMachine::Kind::I386);
    windows.Start();
    if (route == Route32::AsTheMachineAllows)
      RecordProperty("route32", windows.Through64BitLoader() ? "64-bit loader" : "32-bit loader");
    if (route == Route32::Through64BitLoader) {
      EXPECT_TRUE(windows.Through64BitLoader());
    }
    // Through the 64-bit loader the bridge is not the process started, so
    // the blocks come through the pipe.
    EXPECT_EQ(windows.BlocksInPlace(), !windows.Through64BitLoader());
    for (const Input& input : Inputs()) {
      SCOPED_TRACE((input.Memory() ? "memory at " : "file at ") + std::to_string(input.Offset));
      EXPECT_EQ(Picture(windows, input), Picture(native, input));
    }
    EXPECT_EQ(Picture(windows, Input::FromFile(plain_), true),
              Picture(native, Input::FromFile(plain_), true));
  }
}

TEST_F(WineBridge, ThirtyTwoBitCrashOrHangEndsTheWholeProcessTree) {
  REQUIRE_WINE32();
  for (const Route32 route : {Route32::AsTheMachineAllows, Route32::Through64BitLoader}) {
    SCOPED_TRACE(Name(route));
    PluginProcess crashing(WindowsSpi("kvtwin32_crash"), Options32(route, folder_));
    try {
      Picture(crashing, Input::FromFile(plain_));
      FAIL() << "no error";
    } catch (const EPluginCrashed& e) {
      EXPECT_EQ(e.Message(),
                WindowsSpi("kvtwin32_crash") + ": the plug-in crashed (exception 0xC0000005)");
    }
    EXPECT_EQ(PictureInfo(crashing, Input::FromFile(plain_)).Width, picture_.width);

    // The crashing one's bridge keeps the Wine server up, so the next one
    // starts well within its short limit.
    PluginProcess hanging(WindowsSpi("kvtwin32_hang"), Options32(route, folder_, 5));
    hanging.Start();
    const pid_t started = hanging.ProcessId();
    if (hanging.Through64BitLoader()) {
      EXPECT_GE(LiveMembers(started), 2);  // Wine and the bridge
    }
    try {
      Picture(hanging, Input::FromFile(plain_));
      FAIL() << "no error";
    } catch (const EPluginNoAnswer& e) {
      EXPECT_EQ(e.Message(),
                WindowsSpi("kvtwin32_hang") + ": the plug-in gave no answer within 5 s");
    }
    EXPECT_EQ(MembersLeftAfterKill(started), 0);
    EXPECT_EQ(PictureInfo(hanging, Input::FromFile(plain_)).Width, picture_.width);
  }
}

TEST(WineSetup, MissingWineIsAClearStartFailure) {
  PluginProcessOptions options = BridgeOptions();
  options.wine.loader64 = "/nonexistent/wine64";
  options.wine.loader32 = "/nonexistent/wine";
  PluginProcess windows(WindowsSpi("kvtwin64"), options);
  if (windows.Machine().kind != PeMachine::Kind::Amd64) GTEST_SKIP() << Missing64();
  try {
    windows.Start();
    FAIL() << "no error";
  } catch (const EPluginStartFailed& e) {
    EXPECT_EQ(e.Message(), WindowsSpi("kvtwin64") +
                               ": the plug-in process could not be started: Wine is not "
                               "installed (/nonexistent/wine64 is missing)");
  }
}

// Ends the Wine server of a prefix that a test is about to remove.
class WineServerEnd {
 public:
  explicit WineServerEnd(std::string prefix) : prefix_(std::move(prefix)) {}
  ~WineServerEnd() {
    const std::string command =
        "WINEPREFIX='" + prefix_ + "' /usr/lib/wine/wineserver -k >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) {
      // Nothing ran there, or the server was gone already.
    }
  }

 private:
  std::string prefix_;
};

TEST(WineSetup, PrefixIsMadeOnceAndTheFrontEndHearsOfIt) {
  REQUIRE_WINE64();
  TempFolder folder;
  const WineServerEnd server_end(folder.File("prefix"));
  PluginProcessOptions options = BridgeOptions();
  options.wine.prefix = folder.File("prefix");
  std::vector<bool> heard;
  options.wine.on_prefix_creation = [&heard](bool making) { heard.push_back(making); };
  {
    PluginProcess first(WindowsSpi("kvtwin64"), options);
    first.Start();
    EXPECT_EQ(heard, (std::vector<bool>{true, false}));
  }
  EXPECT_TRUE(Exists(options.wine.prefix + "/system.reg"));
  PluginProcess second(WindowsSpi("kvtwin64"), options);
  second.Start();
  EXPECT_EQ(heard.size(), 2u);
}

TEST(WineSetup, MachineTypesOfTheBuiltFiles) {
  REQUIRE_WINE64();
  EXPECT_EQ(ReadPeMachine(WindowsSpi("kvtwin64")).kind, PeMachine::Kind::Amd64);
  EXPECT_EQ(ReadPeMachine(std::string(KEVRALE_BIN_DIR) + "/kevrale-spi-bridge64.exe").kind,
            PeMachine::Kind::Amd64);
  EXPECT_EQ(ReadPeMachine(TestSpi("kvt_basic")).kind, PeMachine::Kind::NotPe);
  if (Exists(WindowsSpi("kvtwin32"))) {
    EXPECT_EQ(ReadPeMachine(WindowsSpi("kvtwin32")).kind, PeMachine::Kind::I386);
  }
}

}  // namespace
}  // namespace kevrale::test

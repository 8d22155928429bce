// A Windows plug-in under the bridge: a stack overflow is a crash with its
// exception, the DLLs it imports come from its own folder or the system's,
// never from the folder where the program was started, and a Windows
// process that it starts ends with its bridge.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "Files.h"
#include "RunnerSupport.h"
#include "WineSupport.h"
#include "ipc/PluginProcessErrors.h"
#include "plugins/SPIExceptions.h"

namespace kevrale::test {
namespace {

namespace fs = std::filesystem;

PluginProcessOptions BridgeOptions() {
  PluginProcessOptions options = TestOptions(60);
  options.wine.prefix = KEVRALE_TEST_WINE_PREFIX;
  return options;
}

// Living processes whose command line holds `word` and whose environment
// names the test prefix.
int PrefixProcesses(const std::string& word) {
  int found = 0;
  const std::string prefix = std::string("WINEPREFIX=") + KEVRALE_TEST_WINE_PREFIX;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream cmdline_file(entry.path() / "cmdline"), environ_file(entry.path() / "environ");
    const std::string cmdline((std::istreambuf_iterator<char>(cmdline_file)), {});
    const std::string environ_text((std::istreambuf_iterator<char>(environ_file)), {});
    if (cmdline.find(word) == std::string::npos) continue;
    if (environ_text.find(prefix + '\0') == std::string::npos) continue;
    ++found;
  }
  return found;
}

TEST(WineContainment, AStackOverflowIsACrashWithItsException) {
  REQUIRE_WINE64();
  TempFolder folder;
  const std::string file = folder.File("p.kvt");
  WriteBytes(file, KvtBytes(TestPicture(4, 3, 3)));
  PluginProcess plugin(WindowsSpi("kvtwin64_stack_overflow"), BridgeOptions());
  try {
    Picture(plugin, Input::FromFile(file));
    FAIL() << "no error";
  } catch (const EPluginCrashed& e) {
    EXPECT_EQ(e.Message(), WindowsSpi("kvtwin64_stack_overflow") +
                               ": the plug-in crashed (exception 0xC00000FD)");
  }
  EXPECT_FALSE(plugin.IsRunning());
}

TEST(WineContainment, ImportedDllsNeverComeFromTheWorkingFolder) {
  REQUIRE_WINE64();
  TempFolder plugins, started_in;
  const std::string plugin_file = plugins.File("kvt_helper.spi");
  fs::copy_file(WindowsSpi("kvtwin64_helper"), plugin_file);
  fs::copy_file(fs::path(WindowsSpi("kvtwin64")).parent_path() / "helper-elsewhere/helper.dll",
                started_in.File("helper.dll"));
  const fs::path was = fs::current_path();
  fs::current_path(started_in.Path());
  {
    // Not beside the plug-in: the copy in the working folder is not taken.
    PluginProcess plugin(plugin_file, BridgeOptions());
    EXPECT_THROW(plugin.Start(), ESPIFOpenErrorSPI);
  }
  fs::copy_file(fs::path(WindowsSpi("kvtwin64")).parent_path() / "helper-beside/helper.dll",
                plugins.File("helper.dll"));
  {
    PluginProcess plugin(plugin_file, BridgeOptions());
    char name[64] = "";
    EXPECT_GT(plugin.GetPluginInfo(1, name, sizeof name), 0);
    EXPECT_STREQ(name, "beside");
  }
  fs::current_path(was);
}

TEST(WineContainment, AWindowsProcessThatAPluginStartsEndsWithItsBridge) {
  REQUIRE_WINE64();
  TempFolder folder;
  const std::string file = folder.File("p.kvt");
  WriteBytes(file, KvtBytes(TestPicture(4, 3, 3)));
  {
    PluginProcess plugin(WindowsSpi("kvtwin64_start_process"), BridgeOptions());
    EXPECT_EQ(Picture(plugin, Input::FromFile(file)).Result, SPI_SUCCESS);
    EXPECT_GE(PrefixProcesses("cmd.exe"), 1);
  }
  int left = PrefixProcesses("cmd.exe");
  for (int i = 0; i < 100 && left > 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    left = PrefixProcesses("cmd.exe");
  }
  EXPECT_EQ(left, 0);
}

// A new folder outside every folder that a confined bridge may write in
// (the temporary folders /tmp and TMPDIR).
fs::path OutsideTheTemporaryFolders() {
  const auto within = [](const fs::path& folder, const char* top) {
    if (top == nullptr || top[0] != '/') return false;
    const std::string base = fs::path(top).lexically_normal().string();
    const std::string path = folder.lexically_normal().string();
    return path == base || path.rfind(base.back() == '/' ? base : base + "/", 0) == 0;
  };
  fs::path parent = fs::path(KEVRALE_TEST_WINE_PREFIX).parent_path();
  if (within(parent, "/tmp") || within(parent, getenv("TMPDIR"))) parent = "/var/tmp";
  std::string pattern = (parent / "kevrale-outside-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "no folder in " << parent;
  return pattern;
}

TEST(WineContainment, ABridgeWritesNothingOutsideThePrefixAndOpensNoNetworkSocket) {
  REQUIRE_WINE64();
  // The picture lies outside the temporary folders, where Wine may write:
  // beside the prefix, or in /var/tmp where the build itself lies in one.
  const fs::path outside = OutsideTheTemporaryFolders();
  struct Removal {
    fs::path folder;
    ~Removal() {
      std::error_code ignored;
      fs::remove_all(folder, ignored);
    }
  } removal{outside};
  const std::string file = (outside / "p.kvt").string();
  WriteBytes(file, KvtBytes(TestPicture(4, 3, 3)));
  for (const char* name : {"kvtwin64_write_file", "kvtwin64_open_socket"}) {
    SCOPED_TRACE(name);
    for (const bool confine : {true, false}) {
      PluginProcessOptions options = BridgeOptions();
      options.confine = confine;
      PluginProcess plugin(WindowsSpi(name), options);
      bool crashed = false;
      try {
        EXPECT_EQ(Picture(plugin, Input::FromFile(file)).Result, SPI_SUCCESS);
      } catch (const EPluginCrashed&) {
        crashed = true;  // the misdeed succeeded
      }
      // Unconfined, the plug-in does what it tries: the test sees it.
      EXPECT_EQ(crashed, !confine);
      fs::remove(outside / "written.txt");
    }
  }
}

}  // namespace
}  // namespace kevrale::test

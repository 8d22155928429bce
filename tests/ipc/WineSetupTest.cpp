// Kevrale's Wine prefix and environment, with a stand-in "Wine" that notes
// how it was run: Wine's 32-bit Windows DLLs lead WINEDLLPATH where they are
// installed, and a prefix made before they were is made anew once.
#include "ipc/WineSetup.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>

#include "Files.h"
#include "TempFolder.h"

namespace kevrale {
namespace {

using test::TempFolder;

class WineSetupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dlls32 + "/i386-windows");
    test::WriteText(dlls32 + "/i386-windows/kernel32.dll", "");
    // wineboot as the stand-in runs it: it notes its arguments and
    // WINEDLLPATH, and fills the 32-bit system folder.
    test::WriteText(loader, "#!/bin/sh\necho \"$@\" \"$WINEDLLPATH\" >> '" + runs +
                                "'\nmkdir -p \"$WINEPREFIX/drive_c/windows/syswow64\"\n"
                                "touch \"$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll\"\n");
    chmod(loader.c_str(), 0755);
    options.prefix = temp.File("prefix");
    options.dlls32 = dlls32;
    options.on_prefix_creation = [this](bool making) { heard.push_back(making); };
  }

  std::string Runs() const {
    return std::filesystem::exists(runs) ? test::ReadText(runs) : std::string();
  }
  std::string Kernel32() const { return options.prefix + "/drive_c/windows/syswow64/kernel32.dll"; }

  TempFolder temp;
  std::string dlls32 = temp.File("wine32");
  std::string loader = temp.File("wine64");
  std::string runs = temp.File("runs.log");
  WineOptions options;
  std::vector<bool> heard;
};

TEST_F(WineSetupTest, The32BitDllsLeadWinePathWhereTheyAreInstalled) {
  const char* saved = getenv("WINEDLLPATH");
  const std::string user = saved != nullptr ? saved : "";
  auto path_of = [](const std::vector<std::string>& env) {
    std::vector<std::string> paths;
    for (const std::string& e : env)
      if (e.starts_with("WINEDLLPATH=")) paths.push_back(e.substr(12));
    return paths;
  };
  setenv("WINEDLLPATH", "/home/me/dlls", 1);
  EXPECT_EQ(path_of(WineEnvironment("/p", options)),
            std::vector<std::string>{dlls32 + ":/home/me/dlls"});
  unsetenv("WINEDLLPATH");
  EXPECT_EQ(path_of(WineEnvironment("/p", options)), std::vector<std::string>{dlls32});
  EXPECT_TRUE(HasWine32Dlls(options));

  options.dlls32 = temp.File("nothing-here");
  EXPECT_FALSE(HasWine32Dlls(options));
  EXPECT_TRUE(path_of(WineEnvironment("/p", options)).empty());
  setenv("WINEDLLPATH", "/home/me/dlls", 1);
  EXPECT_EQ(path_of(WineEnvironment("/p", options)), std::vector<std::string>{"/home/me/dlls"});
  if (saved != nullptr)
    setenv("WINEDLLPATH", user.c_str(), 1);
  else
    unsetenv("WINEDLLPATH");
}

TEST_F(WineSetupTest, APrefixMadeBeforeThe32BitDllsIsMadeAnewOnce) {
  // Made when only 64-bit Wine was there: ready, but no 32-bit system folder.
  std::filesystem::create_directories(options.prefix);
  test::WriteText(options.prefix + "/.kevrale-ready", "");
  test::WriteText(options.prefix + "/system.reg", "old");
  ASSERT_EQ(EnsureWinePrefix(options, loader), "");
  EXPECT_EQ(Runs(), "wineboot --init " + dlls32 + "\n");
  EXPECT_EQ(heard, (std::vector<bool>{true, false}));
  EXPECT_TRUE(std::filesystem::exists(Kernel32()));
  EXPECT_FALSE(std::filesystem::exists(options.prefix + "/system.reg"));
  EXPECT_FALSE(std::filesystem::exists(options.prefix + ".old"));
  ASSERT_EQ(EnsureWinePrefix(options, loader), "");
  EXPECT_EQ(heard.size(), 2u);

  // Made with the 32-bit DLLs at hand and still without kernel32.dll: no
  // second update would bring it, so none is tried at every start.
  std::filesystem::remove(Kernel32());
  ASSERT_EQ(EnsureWinePrefix(options, loader), "");
  EXPECT_EQ(heard.size(), 2u);

  // Without the 32-bit DLLs a prefix without its 32-bit part is whole.
  test::WriteText(options.prefix + "/.kevrale-ready", "");
  options.dlls32 = temp.File("nothing-here");
  ASSERT_EQ(EnsureWinePrefix(options, loader), "");
  EXPECT_EQ(heard.size(), 2u);
}

TEST_F(WineSetupTest, ANewPrefixIsMadeWithThe32BitDllsInSight) {
  ASSERT_EQ(EnsureWinePrefix(options, loader), "");
  EXPECT_EQ(Runs(), "wineboot --init " + dlls32 + "\n");
  EXPECT_TRUE(std::filesystem::exists(Kernel32()));
  EXPECT_EQ(heard, (std::vector<bool>{true, false}));
}

}  // namespace
}  // namespace kevrale

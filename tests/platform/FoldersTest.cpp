// Folder queries: the program's and the current folder, and the listing
// that the plug-in search reads.
#include "platform/Folders.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "Environment.h"
#include "TempFolder.h"
#include "TestPlugins.h"

namespace kevrale {
namespace {

using test::TempFolder;
using test::WriteText;

std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

TEST(FoldersTest, ProgramFolderHoldsTheExecutable) {
  const std::string folder = ProgramFolder();
  EXPECT_EQ(std::filesystem::canonical(folder), std::filesystem::canonical(KEVRALE_TEST_EXE_DIR));
  EXPECT_NE(folder.back(), '/');
}

TEST(FoldersTest, CurrentFolderFollowsChdir) {
  TempFolder temp;
  test::ScopedCurrentFolder cwd(temp.Path());
  EXPECT_EQ(std::filesystem::path(CurrentFolder()), std::filesystem::canonical(temp.Path()));
}

TEST(FoldersTest, ListsMatchingRegularFilesOnly) {
  TempFolder temp;
  const std::string dir = temp.Sub("list");
  WriteText(dir + "/a.spi", "a");
  WriteText(dir + "/b.spi", "b");
  WriteText(dir + "/c.txt", "c");
  WriteText(dir + "/.hidden.spi", "h");
  WriteText(dir + "/UPPER.SPI", "u");
  std::filesystem::create_directory(dir + "/folder.spi");
  std::filesystem::create_symlink(dir + "/a.spi", dir + "/link.spi");
  std::filesystem::create_symlink(dir + "/folder.spi", dir + "/dirlink.spi");
  std::filesystem::create_symlink(dir + "/gone", dir + "/dangling.spi");

  // Sorted by name whatever order the file system lists them in; ASCII
  // letters match without regard to case.
  EXPECT_EQ(ListFolder(dir, "*.spi"),
            (std::vector<std::string>{"UPPER.SPI", "a.spi", "b.spi", "link.spi"}));
  EXPECT_EQ(ListFolder(dir, "u*.Spi"), (std::vector<std::string>{"UPPER.SPI"}));
  EXPECT_EQ(Sorted(ListFolder(dir + "/", "b.*")), (std::vector<std::string>{"b.spi"}));
  EXPECT_EQ(Sorted(ListFolder(dir, "*")),
            (std::vector<std::string>{"UPPER.SPI", "a.spi", "b.spi", "c.txt", "link.spi"}));
  EXPECT_TRUE(ListFolder(dir, "").empty());
  EXPECT_TRUE(ListFolder(dir + "/missing", "*.spi").empty());
  EXPECT_TRUE(ListFolder(dir + "/a.spi", "*").empty());  // a file is not a folder

  test::ScopedCurrentFolder cwd(dir);
  EXPECT_EQ(Sorted(ListFolder("", "*.txt")), (std::vector<std::string>{"c.txt"}));
}

TEST(FoldersTest, CaseIsFoldedForAsciiLettersOnly) {
  TempFolder temp;
  const std::string dir = temp.Sub("list");
  WriteText(dir + "/\xC3\x84.spi", "A with diaeresis");
  EXPECT_EQ(ListFolder(dir, "\xC3\x84.SPI"), (std::vector<std::string>{"\xC3\x84.spi"}));
  EXPECT_TRUE(ListFolder(dir, "\xC3\xA4.spi").empty());  // not an ASCII letter
}

TEST(FoldersTest, ResolvedPathIsOneNamePerFile) {
  TempFolder temp;
  const std::string dir = temp.Sub("real");
  const std::string file = temp.Write("real/a.spi", "a");
  std::filesystem::create_symlink("a.spi", dir + "/b.spi");
  std::filesystem::create_directory_symlink(dir, temp.Path() + "/link");
  const std::string canonical = std::filesystem::canonical(file).string();
  for (const std::string& spelling :
       {file, dir + "//a.spi", dir + "/./a.spi", dir + "/../real/a.spi", dir + "/b.spi",
        temp.Path() + "/link/a.spi", temp.Path() + "/link/b.spi"})
    EXPECT_EQ(ResolvedPath(spelling), canonical) << spelling;
  EXPECT_EQ(ResolvedPath(dir + "/missing.spi"), "");
  EXPECT_EQ(ResolvedPath(""), "");
}

}  // namespace
}  // namespace kevrale

// File names for Windows plug-ins: drive Z: and backslashes, the ANSI code
// page's bytes, and a link with a plain name for what the code page cannot
// write or Windows does not allow in a name.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "Environment.h"
#include "TempFolder.h"
#include "TestPlugins.h"
#include "ipc/WindowsFileNames.h"

namespace kevrale::test {
namespace {

TEST(WindowsFileNames, PathsBecomeDriveZPathsInTheCodePage) {
  EXPECT_EQ(WindowsFileNames::Convert("/home/me/a b/p.kvt", 1252), "Z:\\home\\me\\a b\\p.kvt");
  EXPECT_EQ(WindowsFileNames::Convert("/tmp/caf\u00e9.kvt", 1252), "Z:\\tmp\\caf\xE9.kvt");
  EXPECT_EQ(WindowsFileNames::Convert("/tmp/\u7d75.kvt", 932), "Z:\\tmp\\\x8A\x47.kvt");
  EXPECT_EQ(WindowsFileNames::Convert("/tmp/\u7d75.kvt", 65001), "Z:\\tmp\\\u7d75.kvt");
  // What the code page cannot write, or Windows forbids in a name.
  EXPECT_EQ(WindowsFileNames::Convert("/tmp/\u7d75.kvt", 1252), std::nullopt);
  EXPECT_EQ(WindowsFileNames::Convert("/tmp/caf\u00e9.kvt", 932), std::nullopt);
  for (const char* bad : {"/tmp/a:b", "/tmp/a\\b", "/tmp/a?", "/tmp/a*", "/tmp/a|b", "/tmp/\"a\"",
                          "/tmp/<a>", "/tmp/a\nb"})
    EXPECT_EQ(WindowsFileNames::Convert(bad, 1252), std::nullopt) << bad;
  // Bytes that are no UTF-8, and a code page that is not known.
  EXPECT_EQ(WindowsFileNames::Convert("/tmp/\xFF.kvt", 1252), std::nullopt);
  EXPECT_EQ(WindowsFileNames::Convert("/tmp/caf\u00e9.kvt", 4), std::nullopt);
  EXPECT_EQ(WindowsFileNames::Convert("relative", 1252), std::nullopt);
}

TEST(WindowsFileNames, OtherNamesAreReachedThroughPlainLinks) {
  TempFolder folder;
  const std::string target = folder.Path() + "/\u7d75 a:b.kvt";
  WriteText(target, "picture");
  std::string link_folder;
  {
    WindowsFileNames names(1252);
    const std::string name = names.ForPlugin(target);
    ASSERT_EQ(name.substr(0, 3), "Z:\\");
    EXPECT_EQ(name.substr(name.size() - 4), ".kvt");
    std::string linux_path = name.substr(2);
    for (char& c : linux_path)
      if (c == '\\') c = '/';
    EXPECT_EQ(std::filesystem::read_symlink(linux_path), target);
    EXPECT_EQ(names.ForPlugin(target), name);  // made once
    link_folder = std::filesystem::path(linux_path).parent_path();
    // A plain name needs none.
    EXPECT_EQ(names.ForPlugin("/tmp/plain.kvt"), "Z:\\tmp\\plain.kvt");
    EXPECT_EQ(names.ForPlugin(""), "");
  }
  EXPECT_FALSE(std::filesystem::exists(link_folder));  // links go with their owner
}

TEST(WindowsFileNames, OnlyTheNewestLinksAreKept) {
  TempFolder folder;
  WindowsFileNames names(1252);
  std::vector<std::string> links;
  for (int i = 0; i < 20; ++i) {
    std::string name = names.ForPlugin(folder.Path() + "/\u7d75" + std::to_string(i));
    for (char& c : name)
      if (c == '\\') c = '/';
    links.push_back(name.substr(2));
  }
  EXPECT_FALSE(std::filesystem::is_symlink(links[0]));
  EXPECT_FALSE(std::filesystem::is_symlink(links[3]));
  EXPECT_TRUE(std::filesystem::is_symlink(links[4]));
  EXPECT_TRUE(std::filesystem::is_symlink(links[19]));
}

TEST(WindowsFileNames, RelativePathsAreTakenFromTheCurrentFolder) {
  TempFolder folder;
  const ScopedCurrentFolder current(folder.Path());
  WindowsFileNames names(1252);
  std::string expected = "Z:" + std::filesystem::current_path().string() + "/p.kvt";
  for (char& c : expected)
    if (c == '/') c = '\\';
  EXPECT_EQ(names.ForPlugin("p.kvt"), expected);
}

}  // namespace
}  // namespace kevrale::test

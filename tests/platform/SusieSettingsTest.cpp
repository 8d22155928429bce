// The Susie plug-in folder setting: where the file is, and how its INI text
// is read.
#include "platform/SusieSettings.h"

#include <gtest/gtest.h>

#include "Environment.h"
#include "TempFolder.h"
#include "TestPlugins.h"

namespace kevrale {
namespace {

using test::ScopedEnv;
using test::TempFolder;
using test::WriteText;

TEST(SusieSettingsTest, FileUnderTheConfigurationHome) {
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", "/x/conf");
    EXPECT_EQ(SusieSettingsPath(), "/x/conf/Dravello/Susie.conf");
  }
  ScopedEnv home("HOME", "/home/someone");
  for (std::optional<std::string> xdg :
       {std::optional<std::string>(), std::optional<std::string>(""),
        std::optional<std::string>("relative/conf")}) {
    ScopedEnv env("XDG_CONFIG_HOME", xdg);
    EXPECT_EQ(SusieSettingsPath(), "/home/someone/.config/Dravello/Susie.conf");
  }
}

TEST(SusieSettingsTest, ReadsThePathOfThePlugInSection) {
  TempFolder temp;
  ScopedEnv xdg("XDG_CONFIG_HOME", temp.Path());
  const std::string file = temp.Path() + "/Dravello/Susie.conf";
  EXPECT_EQ(SusiePluginFolder(), std::nullopt);  // no file

  WriteText(file, "[Plug-in]\nPath=/opt/susie/spi\n");
  EXPECT_EQ(SusiePluginFolder(), "/opt/susie/spi");

  // A relative folder lies beside the settings file, wherever the program
  // was started.
  WriteText(file, "[Plug-in]\nPath=spi/mine\n");
  EXPECT_EQ(SusiePluginFolder(), temp.Path() + "/Dravello/spi/mine");

  WriteText(file, "[Other]\nPath=/wrong\n[Plug-in]\nName=x\n");
  EXPECT_EQ(SusiePluginFolder(), std::nullopt);  // no key in the section

  WriteText(file, "[General]\nPath=/wrong\n");
  EXPECT_EQ(SusiePluginFolder(), std::nullopt);  // no section

  WriteText(file, "[Plug-in]\nPath=\n");
  EXPECT_EQ(SusiePluginFolder(), std::nullopt);  // empty value

  WriteText(file, "[Plug-in]\nPath=\"\"\n");
  EXPECT_EQ(SusiePluginFolder(), std::nullopt);
}

TEST(SusieSettingsTest, IniTextAsQtWritesIt) {
  const auto read = [](const std::string& text) { return ReadIniString(text, "Plug-in", "Path"); };
  // Line ends, a byte-order mark, comments, spaces around the parts.
  EXPECT_EQ(read("\xEF\xBB\xBF; comment\r\n# another\r\n [Plug-in] \r\n  Path = /a b/c  \r\n"),
            "/a b/c");
  // Quoted values keep their spaces and special characters; escapes.
  EXPECT_EQ(read("[Plug-in]\nPath=\" /with, comma;semi \"\n"), " /with, comma;semi ");
  EXPECT_EQ(read("[Plug-in]\nPath=\"C:\\\\Susie\\\\\"\n"), "C:\\Susie\\");
  EXPECT_EQ(read("[Plug-in]\nPath=/tab\\there\n"), "/tab\there");
  EXPECT_EQ(read("[Plug-in]\nPath=/\\x65e5\\x672c\n"), "/日本");
  EXPECT_EQ(read("[Plug-in]\nPath=/\\xd83d\\xde00\n"), "/\xF0\x9F\x98\x80");
  EXPECT_EQ(read("[Plug-in]\nPath=/日本語/spi\n"), "/日本語/spi");
  // An unquoted ";" starts a comment.
  EXPECT_EQ(read("[Plug-in]\nPath=/a ;note\n"), "/a");
  // The last entry wins; sections may come back.
  EXPECT_EQ(read("[Plug-in]\nPath=/first\n[X]\nPath=/x\n[Plug-in]\nPath=/second\n"), "/second");
  // The same key written from the top level with "\" between the groups,
  // and an escaped section name.
  EXPECT_EQ(read("[General]\nPlug-in\\Path=/nested\n"), "/nested");
  EXPECT_EQ(read("Plug-in\\Path=/top\n"), "/top");
  EXPECT_EQ(read("[Plug%2Din]\nPath=/escaped\n"), "/escaped");
  // Keys and sections are case-sensitive.
  EXPECT_EQ(read("[plug-in]\nPath=/x\n"), std::nullopt);
  EXPECT_EQ(read("[Plug-in]\npath=/x\n"), std::nullopt);
  // Values of other types than a single string.
  EXPECT_EQ(read("[Plug-in]\nPath=/a,/b\n"), std::nullopt);
  EXPECT_EQ(read("[Plug-in]\nPath=@ByteArray(/a)\n"), std::nullopt);
  EXPECT_EQ(read("[Plug-in]\nPath=@Variant(\\0\\0\\0\\x7f)\n"), std::nullopt);
  EXPECT_EQ(read("[Plug-in]\nPath=@@at\n"), "@at");
  // Lines that are not entries.
  EXPECT_EQ(read("[Plug-in]\nPath\n"), std::nullopt);
  EXPECT_EQ(read("[Plug-in"), std::nullopt);
  EXPECT_EQ(read(""), std::nullopt);
}

}  // namespace
}  // namespace kevrale

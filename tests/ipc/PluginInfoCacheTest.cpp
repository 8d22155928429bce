// The cache of what Windows plug-ins answered: an entry holds only for the
// file as it was (path, size, modification time), survives any text the
// plug-in gave, and a broken or unwritable cache is no error.
#include "ipc/PluginInfoCache.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "Environment.h"
#include "TempFolder.h"

namespace kevrale::test {
namespace {

PluginInfoRecord SomeRecord() {
  PluginInfoRecord record;
  record.Exports = 0x1D;
  record.Answers = {{0, 255, 4, "00IN"},
                    {1, 255, 9, "a\nb c\tdé"},  // any byte but NUL survives
                    {2, 255, 0, ""},
                    {3, 16, -1, "x"}};
  return record;
}

class PluginInfoCacheTest : public ::testing::Test {
 protected:
  TempFolder temp;
  std::string plugin = temp.Write("plug in.spi", "MZ version one");
  PluginInfoCache cache{temp.Path() + "/cache"};
};

TEST_F(PluginInfoCacheTest, AStoredRecordIsFoundForTheSameFile) {
  EXPECT_FALSE(cache.Find(plugin));
  cache.Store(plugin, SomeRecord());
  EXPECT_EQ(cache.Find(plugin), SomeRecord());
  // Another cache object on the same folder (the next start) finds it too.
  EXPECT_EQ(PluginInfoCache(temp.Path() + "/cache").Find(plugin), SomeRecord());
  EXPECT_FALSE(cache.Find(temp.Write("other.spi", "MZ version one")));
}

TEST_F(PluginInfoCacheTest, AChangedFileMakesTheEntryStale) {
  cache.Store(plugin, SomeRecord());
  struct stat before {};
  ASSERT_EQ(stat(plugin.c_str(), &before), 0);
  // Same size, later time.
  WriteText(plugin, "MZ version two");
  timespec times[2] = {before.st_atim, before.st_mtim};
  times[1].tv_sec += 5;
  ASSERT_EQ(utimensat(AT_FDCWD, plugin.c_str(), times, 0), 0);
  EXPECT_FALSE(cache.Find(plugin));
  // Same time, other size.
  times[1] = before.st_mtim;
  WriteText(plugin, "MZ version three");
  ASSERT_EQ(utimensat(AT_FDCWD, plugin.c_str(), times, 0), 0);
  EXPECT_FALSE(cache.Find(plugin));
  // Back as it was: found again.
  WriteText(plugin, "MZ version one");
  ASSERT_EQ(utimensat(AT_FDCWD, plugin.c_str(), times, 0), 0);
  EXPECT_EQ(cache.Find(plugin), SomeRecord());
  std::filesystem::remove(plugin);
  EXPECT_FALSE(cache.Find(plugin));
}

TEST_F(PluginInfoCacheTest, BrokenEntriesAreMisses) {
  cache.Store(plugin, SomeRecord());
  const std::string entry = cache.EntryPath(plugin);
  const std::string good = ReadText(entry);
  for (const std::string& text :
       {std::string(), std::string("garbage"), good.substr(0, good.size() / 2),
        good + "answer 5 255 3 zz\n", good + "answer 5 255\n", good + "surplus\n",
        good + "answer 5 255 3 610062\n"}) {  // a NUL inside a text
    WriteText(entry, text);
    EXPECT_FALSE(cache.Find(plugin)) << text;
  }
  // An entry written for another path under the same name is not this one's.
  WriteText(entry, good);
  const std::string moved = temp.File("moved.spi");
  std::filesystem::copy_file(plugin, moved);
  std::filesystem::copy_file(entry, cache.EntryPath(moved),
                             std::filesystem::copy_options::overwrite_existing);
  EXPECT_FALSE(cache.Find(moved));
}

TEST_F(PluginInfoCacheTest, NoFolderOrAnUnwritableOneCachesNothing) {
  PluginInfoCache none{std::string()};
  none.Store(plugin, SomeRecord());
  EXPECT_FALSE(none.Find(plugin));
  const std::string blocked = temp.Write("blocked", "a file where the folder would be");
  PluginInfoCache unwritable{blocked};
  unwritable.Store(plugin, SomeRecord());  // no error
  EXPECT_FALSE(unwritable.Find(plugin));
}

TEST_F(PluginInfoCacheTest, TheDefaultFolderFollowsXdgCacheHome) {
  {
    ScopedEnv cache_home("XDG_CACHE_HOME", "/somewhere/cache");
    EXPECT_EQ(PluginInfoCache::DefaultFolder(), "/somewhere/cache/kevrale");
  }
  ScopedEnv relative("XDG_CACHE_HOME", "relative/cache");
  ScopedEnv home("HOME", "/home/someone");
  EXPECT_EQ(PluginInfoCache::DefaultFolder(), "/home/someone/.cache/kevrale");
}

}  // namespace
}  // namespace kevrale::test

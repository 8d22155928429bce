#include "cli/ListScheduler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <thread>

#include "batch/SaveName.h"

namespace kevrale::cli {
namespace {

std::vector<ListEntry> Entries(const std::vector<std::string>& paths) {
  std::vector<ListEntry> entries;
  for (const auto& p : paths)
    entries.push_back({entries.size() + 1, int64_t(entries.size() + 1), p, SaveNameFor(p)});
  return entries;
}

TEST(ListSchedulerTest, EntriesTouchingOneFileShareAGroup) {
  const auto groups = ListScheduler::Groups(Entries({
      "/d/a.bmp",    // 0
      "/d/b.bmp",    // 1
      "/d/a.jpg",    // 2: the same save name as 0
      "/d/b_s.bmp",  // 3: reads what 1 writes
      "/d/c.bmp",    // 4
      "/d/./c.png",  // 5: the same save name as 4, written another way
      "/d/e.bmp",    // 6
      "/d/e.bmp",    // 7: listed twice
      "/d/f.bmp",    // 8: alone
  }));
  EXPECT_EQ(groups, (std::vector<size_t>{0, 1, 0, 1, 2, 2, 3, 3, 4}));
}

TEST(ListSchedulerTest, ANameRelativeToTheCurrentFolderOrThroughALinkIsTheSameFile) {
  const std::string here = std::filesystem::current_path().string();
  // /proc/self/cwd is a link to the current folder.
  const auto groups = ListScheduler::Groups(Entries({
      "page.bmp",                 // 0
      here + "/page.png",         // 1: the same output as 0
      "/proc/self/cwd/page.jpg",  // 2: again, through a link
      "sub/../page.gif",          // 3: again, written another way
      here + "/other.bmp",        // 4
  }));
  EXPECT_EQ(groups, (std::vector<size_t>{0, 0, 0, 0, 1}));
}

// Runs the entries on `threads` workers; `fails` says which fail, and those
// fail at once while the others take a few milliseconds. Records the order
// of starts and checks that no two entries of a group overlap.
std::vector<size_t> RunAll(const std::vector<ListEntry>& entries, bool keep_going, int threads,
                           const std::vector<size_t>& fails) {
  ListScheduler scheduler(entries, keep_going);
  const auto groups = ListScheduler::Groups(entries);
  std::mutex mutex;
  std::vector<size_t> started;
  std::vector<int> busy(entries.size(), 0);
  const auto work = [&] {
    while (const auto i = scheduler.Next()) {
      {
        std::lock_guard lock(mutex);
        started.push_back(*i);
        EXPECT_EQ(busy[groups[*i]]++, 0) << "two entries of group " << groups[*i] << " at once";
      }
      const bool failing = std::find(fails.begin(), fails.end(), *i) != fails.end();
      if (!failing) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      {
        std::lock_guard lock(mutex);
        --busy[groups[*i]];
      }
      scheduler.Finish(*i, failing);
    }
  };
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) pool.emplace_back(work);
  for (auto& t : pool) t.join();
  return started;
}

TEST(ListSchedulerTest, GroupsRunInListOrderOneAtATime) {
  const auto entries =
      Entries({"/a.bmp", "/b.bmp", "/a.jpg", "/b_s.bmp", "/c.bmp", "/a.png", "/d.bmp", "/a.gif"});
  const auto started = RunAll(entries, false, 4, {});
  ASSERT_EQ(started.size(), entries.size());
  // Within the group of /a.* (0, 2, 5, 7) the starts keep list order.
  std::vector<size_t> a_group;
  for (size_t i : started)
    if (entries[i].save_name == "/a_s.bmp") a_group.push_back(i);
  EXPECT_EQ(a_group, (std::vector<size_t>{0, 2, 5, 7}));
}

TEST(ListSchedulerTest, FirstFailureStopsLaterEntries) {
  const auto entries = Entries({"/0.bmp", "/1.bmp", "/2.bmp", "/3.bmp", "/4.bmp", "/5.bmp"});
  // One worker: exactly the entries up to the failing one.
  EXPECT_EQ(RunAll(entries, false, 1, {2}), (std::vector<size_t>{0, 1, 2}));
  // Keeping going: every entry.
  EXPECT_EQ(RunAll(entries, true, 1, {2}).size(), entries.size());
  // Several workers: the entries beside the failure finish, nothing later starts.
  auto started = RunAll(entries, false, 3, {2});
  std::sort(started.begin(), started.end());
  EXPECT_EQ(started, (std::vector<size_t>{0, 1, 2}));
}

TEST(ListSchedulerTest, EntryBeforeAFailureWaitingForItsGroupStillRuns) {
  // 1 waits for 0 (the same save name) while 2 fails at once: 1 comes
  // before the failure in the list, so it runs as in a sequential batch.
  const auto entries = Entries({"/a.bmp", "/a.jpg", "/b.bmp", "/c.bmp"});
  auto started = RunAll(entries, false, 2, {2});
  std::sort(started.begin(), started.end());
  EXPECT_EQ(started, (std::vector<size_t>{0, 1, 2}));
}

TEST(ListSchedulerTest, InterruptStopsStarting) {
  const auto entries = Entries({"/0.bmp", "/1.bmp", "/2.bmp"});
  std::atomic<bool> interrupted{false};
  ListScheduler scheduler(entries, true, &interrupted);
  const auto first = scheduler.Next();
  ASSERT_TRUE(first);
  interrupted = true;
  scheduler.Finish(*first, false);
  EXPECT_FALSE(scheduler.Next());
}

}  // namespace
}  // namespace kevrale::cli

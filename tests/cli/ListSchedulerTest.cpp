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

// The entries one at a time, counting how many were asked for.
struct CountingSource {
  explicit CountingSource(std::vector<ListEntry> list) : entries(std::move(list)) {}
  ListScheduler::Source Source() {
    return [this]() -> std::optional<ListEntry> {
      if (given == entries.size()) return std::nullopt;
      return entries[given++];
    };
  }
  std::vector<ListEntry> entries;
  std::atomic<size_t> given{0};
};

TEST(ListSchedulerTest, EntriesTouchingOneFileConflict) {
  const auto e = Entries({
      "/d/a.bmp",    // 0
      "/d/b.bmp",    // 1
      "/d/a.jpg",    // 2: the same save name as 0
      "/d/b_s.bmp",  // 3: reads what 1 writes
      "/d/c.bmp",    // 4
      "/d/./c.png",  // 5: the same save name as 4, written another way
      "/d/e.bmp",    // 6
      "/d/e.bmp",    // 7: listed twice
  });
  const std::pair<size_t, size_t> conflicts[] = {{0, 2}, {1, 3}, {3, 1}, {4, 5}, {6, 7}};
  for (const auto& [a, b] : conflicts) EXPECT_TRUE(ListScheduler::Conflict(e[a], e[b])) << a << b;
  const std::pair<size_t, size_t> apart[] = {{0, 1}, {0, 3}, {2, 4}, {5, 6}, {3, 7}};
  for (const auto& [a, b] : apart) EXPECT_FALSE(ListScheduler::Conflict(e[a], e[b])) << a << b;
}

TEST(ListSchedulerTest, ANameRelativeToTheCurrentFolderOrThroughALinkIsTheSameFile) {
  const std::string here = std::filesystem::current_path().string();
  // /proc/self/cwd is a link to the current folder.
  const auto e = Entries({
      "page.bmp",                 // 0
      here + "/page.png",         // 1: the same output as 0
      "/proc/self/cwd/page.jpg",  // 2: again, through a link
      "sub/../page.gif",          // 3: again, written another way
      here + "/other.bmp",        // 4
  });
  for (size_t i = 1; i < 4; ++i) EXPECT_TRUE(ListScheduler::Conflict(e[0], e[i])) << i;
  EXPECT_FALSE(ListScheduler::Conflict(e[0], e[4]));
}

// Runs the entries on `threads` workers; `fails` says which fail, and those
// fail at once while the others take a few milliseconds. Records the order
// of starts and checks that no two conflicting entries overlap, and that
// the scheduler never holds more than its window.
std::vector<size_t> RunAll(const std::vector<ListEntry>& entries, bool keep_going, int threads,
                           const std::vector<size_t>& fails) {
  CountingSource source(entries);
  const size_t window = 2 * size_t(threads);
  ListScheduler scheduler(source.Source(), window, keep_going);
  std::mutex mutex;
  std::vector<size_t> started, running;
  size_t ended = 0;
  const auto work = [&] {
    while (const auto e = scheduler.Next()) {
      const size_t i = e->number - 1;
      {
        std::lock_guard lock(mutex);
        started.push_back(i);
        for (size_t r : running)
          EXPECT_FALSE(ListScheduler::Conflict(entries[r], entries[i])) << r << " and " << i;
        running.push_back(i);
        EXPECT_LE(source.given - ended, window) << "entries held beyond the window";
      }
      const bool failing = std::find(fails.begin(), fails.end(), i) != fails.end();
      if (!failing) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      {
        std::lock_guard lock(mutex);
        running.erase(std::find(running.begin(), running.end(), i));
        ++ended;
      }
      scheduler.Finish(e->number, failing);
    }
  };
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) pool.emplace_back(work);
  for (auto& t : pool) t.join();
  return started;
}

TEST(ListSchedulerTest, ConflictingEntriesRunInListOrderOneAtATime) {
  const auto entries =
      Entries({"/a.bmp", "/b.bmp", "/a.jpg", "/b_s.bmp", "/c.bmp", "/a.png", "/d.bmp", "/a.gif"});
  const auto started = RunAll(entries, false, 4, {});
  ASSERT_EQ(started.size(), entries.size());
  // Among the entries saving to /a_s.bmp (0, 2, 5, 7) the starts keep list order.
  std::vector<size_t> a_group;
  for (size_t i : started)
    if (entries[i].save_name == "/a_s.bmp") a_group.push_back(i);
  EXPECT_EQ(a_group, (std::vector<size_t>{0, 2, 5, 7}));
}

TEST(ListSchedulerTest, AListIsReadAsTheWorkersNeedItWithinTheWindow) {
  // Entries all saving to one name: one runs at a time, and the list is
  // never read further ahead than the window.
  std::vector<std::string> paths(100, "/same.bmp");
  const auto started = RunAll(Entries(paths), false, 3, {});
  EXPECT_EQ(started.size(), paths.size());
  // The first entry is handed out after one read, not after the whole list.
  CountingSource source(Entries(paths));
  ListScheduler scheduler(source.Source(), 4, false);
  const auto first = scheduler.Next();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->number, 1u);
  EXPECT_EQ(source.given, 1u);
}

TEST(ListSchedulerTest, AfterAFailureNoNewEntryStartsAndThoseRunningFinish) {
  // Deterministic: two workers hold entries 1 and 2; entry 1 fails.
  CountingSource source(Entries({"/0.bmp", "/1.bmp", "/2.bmp", "/3.bmp", "/4.bmp"}));
  ListScheduler scheduler(source.Source(), 4, false);
  const auto first = scheduler.Next();
  const auto second = scheduler.Next();
  ASSERT_TRUE(first && second);
  scheduler.Finish(first->number, true);
  EXPECT_FALSE(scheduler.Next()) << "an entry after the failure started";
  scheduler.Finish(second->number, false);
  EXPECT_FALSE(scheduler.Next());
  EXPECT_LE(source.given, 4u);

  // One worker: exactly the entries up to the failing one; keeping going:
  // every entry.
  const auto entries = Entries({"/0.bmp", "/1.bmp", "/2.bmp", "/3.bmp", "/4.bmp", "/5.bmp"});
  EXPECT_EQ(RunAll(entries, false, 1, {2}), (std::vector<size_t>{0, 1, 2}));
  EXPECT_EQ(RunAll(entries, true, 1, {2}).size(), entries.size());
}

TEST(ListSchedulerTest, EntryBeforeAFailureWaitingForItsConflictStillRuns) {
  // 1 waits for 0 (the same save name) while 2 fails: 1 comes before the
  // failure in the list, so it runs as in a sequential batch; 3 does not.
  CountingSource source(Entries({"/a.bmp", "/a.jpg", "/b.bmp", "/c.bmp"}));
  ListScheduler scheduler(source.Source(), 4, false);
  const auto a = scheduler.Next();
  const auto b = scheduler.Next();  // 1 is held back: 2 comes instead
  ASSERT_TRUE(a && b);
  EXPECT_EQ(b->number, 3u);
  scheduler.Finish(b->number, true);
  scheduler.Finish(a->number, false);
  const auto held = scheduler.Next();
  ASSERT_TRUE(held);
  EXPECT_EQ(held->number, 2u);
  scheduler.Finish(held->number, false);
  EXPECT_FALSE(scheduler.Next());
}

TEST(ListSchedulerTest, InterruptOrAnUnreadableListStopsStarting) {
  std::atomic<bool> interrupted{false};
  CountingSource source(Entries({"/0.bmp", "/1.bmp", "/2.bmp"}));
  ListScheduler scheduler(source.Source(), 4, true, &interrupted);
  const auto first = scheduler.Next();
  ASSERT_TRUE(first);
  interrupted = true;
  scheduler.Finish(first->number, false);
  EXPECT_FALSE(scheduler.Next());

  // The list fails at its third line: the two before it run, the error is kept.
  size_t calls = 0;
  ListScheduler broken(
      [&]() -> std::optional<ListEntry> {
        if (++calls == 3) throw std::runtime_error("line 3 is longer than 65536 bytes");
        return Entries({"/x.bmp", "/y.bmp"})[calls - 1];
      },
      1, true);
  size_t ran = 0;
  while (const auto e = broken.Next()) {
    ++ran;
    broken.Finish(e->number, false);
  }
  EXPECT_EQ(ran, 2u);
  EXPECT_TRUE(broken.ReadError());
}

}  // namespace
}  // namespace kevrale::cli

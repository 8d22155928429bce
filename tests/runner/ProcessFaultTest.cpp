// A plug-in that crashes, hangs, keeps static state or writes on standard
// output harms only its own process: the caller gets a typed error that
// names the plug-in, and the next call works in a fresh process.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "Files.h"
#include "RunnerSupport.h"
#include "ipc/PluginProcessErrors.h"
#include "platform/Sanitizers.h"
#include "plugins/SPIExceptions.h"

namespace kevrale::test {
namespace {

// A stand-in for the runner: a shell script in a program folder of its own.
std::string FakeRunnerFolder(const TempFolder& folder, const std::string& script) {
  const std::string path = folder.File("kevrale-spi-runner");
  WriteBytes(path, std::vector<uint8_t>(script.begin(), script.end()));
  chmod(path.c_str(), 0755);
  return folder.Path();
}

TEST(ProcessFaults, CrashIsReportedAndTheNextCallStartsAFreshRunner) {
  TempFolder folder;
  const std::string file = folder.File("p.kvt");
  WriteBytes(file, KvtBytes(TestPicture(4, 3, 3)));
  PluginProcess remote(TestSpi("kvt_crash"), TestOptions());
  for (int round = 0; round < 2; ++round) {
    try {
      Picture(remote, Input::FromFile(file));
      FAIL() << "no error";
    } catch (const EPluginCrashed& e) {
      EXPECT_TRUE(Contains(e.Message(), TestSpi("kvt_crash") + ": the plug-in crashed ("))
          << e.Message();
    }
    EXPECT_FALSE(remote.IsRunning());
    const InfoOutcome info = PictureInfo(remote, Input::FromFile(file));
    EXPECT_EQ(info.Result, SPI_SUCCESS);
    EXPECT_EQ(info.Width, 4);
    EXPECT_TRUE(remote.IsRunning());
  }
}

TEST(ProcessFaults, HangIsEndedAfterTheTimeLimit) {
  TempFolder folder;
  const std::string file = folder.File("p.kvt");
  WriteBytes(file, KvtBytes(TestPicture(4, 3, 3)));
  PluginProcess remote(TestSpi("kvt_hang"), TestOptions(1));
  const auto start = std::chrono::steady_clock::now();
  try {
    Picture(remote, Input::FromMemory(KvtBytes(TestPicture(4, 3, 3))));
    FAIL() << "no error";
  } catch (const EPluginNoAnswer& e) {
    EXPECT_EQ(e.Message(), TestSpi("kvt_hang") + ": the plug-in gave no answer within 1 s");
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(PictureInfo(remote, Input::FromFile(file)).Result, SPI_SUCCESS);
}

TEST(ProcessFaults, NoTimeLimitWaitsUntilTheProcessEnds) {
  PluginProcess remote(TestSpi("kvt_hang"), TestOptions(0));
  remote.Start();
  const pid_t pid = remote.ProcessId();
  std::string error;
  std::atomic<bool> ended{false};
  std::thread call([&] {
    try {
      Picture(remote, Input::FromMemory(KvtBytes(TestPicture(3, 3, 2))));
    } catch (const EPluginProcessError& e) {
      error = e.ClassName();
    }
    ended = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_FALSE(ended);  // still waiting
  kill(pid, SIGKILL);
  call.join();
  EXPECT_EQ(error, "EPluginCrashed");
}

TEST(ProcessFaults, ProgressKeepsALongCallAlive) {
  // Each progress message starts the limit anew; the decode itself may take
  // longer than the limit in all.
  PluginProcess remote(TestSpi("kvt_basic"), TestOptions(1));
  ProgressLog log;
  SpiHandle info = nullptr, bits = nullptr;
  const std::vector<uint8_t> bytes = KvtBytes(TestPicture(3, 3, 2));
  const SpiProgressCallback slow = [](int32_t, int32_t, intptr_t) -> int32_t {
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    return 0;
  };
  EXPECT_EQ(remote.GetPicture(reinterpret_cast<const char*>(bytes.data()), intptr_t(bytes.size()),
                              SPI_INPUT_MEMORY, &info, &bits, slow, log.Data()),
            SPI_SUCCESS);
  TakeBlock(info);
  TakeBlock(bits);
}

TEST(ProcessFaults, TwoClientsOnTwoThreadsNeverMixPictures) {
  // The plug-in passes every picture through one static buffer; in one
  // process two threads would get each other's pixels.
  TInSPI reference(TestSpi("kvt_basic"));
  std::vector<std::vector<uint8_t>> inputs;
  std::vector<PictureOutcome> expected;
  for (int seed = 1; seed <= 2; ++seed) {
    inputs.push_back(KvtBytes(TestPicture(16, 16, 6, seed * 5)));
    expected.push_back(Picture(reference, Input::FromMemory(inputs.back())));
  }
  ASSERT_NE(expected[0].Bits, expected[1].Bits);
  int mixed[2] = {0, 0};
  auto work = [&](int k) {
    PluginProcess remote(TestSpi("kvt_static"), TestOptions());
    for (int round = 0; round < 25; ++round)
      if (!(Picture(remote, Input::FromMemory(inputs[k])) == expected[k])) ++mixed[k];
  };
  std::thread a(work, 0), b(work, 1);
  a.join();
  b.join();
  EXPECT_EQ(mixed[0], 0);
  EXPECT_EQ(mixed[1], 0);
}

TEST(ProcessFaults, PluginOutputOnStdoutLeavesTheMessagesIntact) {
  TempFolder folder;
  const std::string file = folder.File("p.kvt");
  WriteBytes(file, KvtBytes(TestPicture(5, 4, 4)));
  TInSPI reference(TestSpi("kvt_basic"));
  PluginProcess remote(TestSpi("kvt_chatty"), TestOptions());
  std::vector<uint8_t> head(2176);
  const std::vector<uint8_t> bytes = KvtBytes(TestPicture(5, 4, 4));
  std::copy(bytes.begin(), bytes.end(), head.begin());
  EXPECT_EQ(remote.IsSupported(file.c_str(), reinterpret_cast<intptr_t>(head.data())), 1);
  EXPECT_EQ(PictureInfo(remote, Input::FromFile(file)).Result, SPI_SUCCESS);
  EXPECT_EQ(Picture(remote, Input::FromFile(file)), Picture(reference, Input::FromFile(file)));
}

TEST(ProcessFaults, MemoryLimitBoundsTheRunner) {
  if (kReservesShadowMemory)
    GTEST_SKIP() << "the sanitizers reserve more address space than any limit allows";
  const std::vector<uint8_t> bytes = KvtBytes(TestPicture(3, 3, 2));
  PluginProcessOptions limited = TestOptions();
  limited.memory_limit = uint64_t(2) << 30;
  PluginProcess small(TestSpi("kvt_hog"), limited);
  EXPECT_EQ(Picture(small, Input::FromMemory(bytes)).Result, SPI_OUT_OF_MEMORY);
  PluginProcessOptions unlimited = TestOptions();
  unlimited.memory_limit = 0;
  PluginProcess large(TestSpi("kvt_hog"), unlimited);
  EXPECT_EQ(Picture(large, Input::FromMemory(bytes)).Result, SPI_SUCCESS);
  // Never more than the machine's memory, and room for a large picture
  // where the machine has it.
  const uint64_t physical = uint64_t(sysconf(_SC_PHYS_PAGES)) * uint64_t(sysconf(_SC_PAGESIZE));
  EXPECT_LE(DefaultPluginMemoryLimit(), physical);
  EXPECT_GE(DefaultPluginMemoryLimit(), std::min(physical, uint64_t(4) << 30));
}

TEST(ProcessFaults, AnErrorOfTheProgressCallbackEndsTheProcessAndGoesOn) {
  PluginProcess remote(TestSpi("kvt_basic"), TestOptions());
  const std::vector<uint8_t> bytes = KvtBytes(TestPicture(3, 3, 2));
  SpiHandle info = nullptr, bits = nullptr;
  const SpiProgressCallback raising = [](int32_t, int32_t, intptr_t) -> int32_t {
    throw std::runtime_error("listener failed");
  };
  EXPECT_THROW(
      remote.GetPicture(reinterpret_cast<const char*>(bytes.data()), intptr_t(bytes.size()),
                        SPI_INPUT_MEMORY, &info, &bits, raising, 0),
      std::runtime_error);
  EXPECT_FALSE(remote.IsRunning());
  EXPECT_EQ(Picture(remote, Input::FromMemory(bytes)).Result, SPI_SUCCESS);
}

TEST(ProcessFaults, MissingEntryPointRaisesInvalidApiAndTheProcessGoesOn) {
  PluginProcess remote(TestSpi("kvt_nopreview"), TestOptions());
  const Input input = Input::FromMemory(KvtBytes(TestPicture(3, 3, 2)));
  try {
    Picture(remote, input, true);
    FAIL() << "no error";
  } catch (const ESPIInvalidAPI& e) {
    EXPECT_EQ(e.Message(),
              "GetPreviewは[" + TestSpi("kvt_nopreview") + "]では使えないSusie Plugin APIです");
  }
  EXPECT_EQ(remote.Exports() & SPI_EXPORTS_GETPREVIEW, 0u);
  EXPECT_EQ(Picture(remote, input).Result, SPI_SUCCESS);
}

TEST(ProcessFaults, ALibraryThatDoesNotLoadGivesTheLoadMessage) {
  TempFolder folder;
  const std::string file = folder.File("text.spi");
  WriteBytes(file, {'n', 'o', 't', ' ', 'a', ' ', 'l', 'i', 'b'});
  PluginProcess remote(file, TestOptions());
  try {
    remote.Start();
    FAIL() << "no error";
  } catch (const ESPIFOpenErrorSPI& e) {
    EXPECT_EQ(e.Message(), file + ":Susie Pluginがロードできませんでした");
  }
  EXPECT_TRUE(Contains(remote.LoadFailure(), "text.spi")) << remote.LoadFailure();
  EXPECT_FALSE(remote.IsRunning());
}

TEST(ProcessFaults, StartFailuresNameThePluginAndTheReason) {
  struct Case {
    std::string script;  // empty: no runner at all
    int time_limit;
    std::string reason;
  };
  const Case cases[] = {
      {"", 5, "kevrale-spi-runner is missing"},
      {"#!/bin/sh\nexit 3\n", 5, "it ended before it was ready (exit status 3)"},
      {"#!/bin/sh\necho garbage\nsleep 5\n", 5, "it broke the protocol"},
      {"#!/bin/sh\nexec sleep 30\n", 1, "it gave no answer within 1 s"},
  };
  for (const Case& c : cases) {
    TempFolder folder;
    PluginProcessOptions options = TestOptions(c.time_limit);
    options.program_folder = c.script.empty() ? folder.Path() : FakeRunnerFolder(folder, c.script);
    PluginProcess remote(TestSpi("kvt_basic"), options);
    const auto start = std::chrono::steady_clock::now();
    try {
      remote.Start();
      FAIL() << "no error for " << c.reason;
    } catch (const EPluginStartFailed& e) {
      EXPECT_TRUE(Contains(e.Message(),
                           TestSpi("kvt_basic") + ": the plug-in process could not be started: "))
          << e.Message();
      EXPECT_TRUE(Contains(e.Message(), c.reason)) << e.Message();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_FALSE(remote.IsRunning());
  }
}

}  // namespace
}  // namespace kevrale::test

// Plug-ins of the Susie folder that crash, hang or are not reentrant, under
// a list run with two workers that keeps going: each runs in processes of
// its own, so the run goes on, the entries they fail name the plug-in and
// the picture, and the pictures of the others come out whole.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "CliProcess.h"
#include "DecodingSupport.h"
#include "Files.h"
#include "TestPlugins.h"
#include "picture/TPicture.h"
#include "thinning/ThinningEngine.h"

namespace kevrale {
namespace {

namespace fs = std::filesystem;
using test::Contains;
using test::Quote;
using test::RunCommand;
using test::RunResult;

// A white picture with a black bar three pixels thick at row `row`.
test::Pixels Bar(int row) {
  return test::MakePixels(16, 16, [row](int, int y) {
    return y >= row && y < row + 3 ? RGB(0, 0, 0) : RGB(255, 255, 255);
  });
}

class PluginFaultTest : public test::CliFolderTest {
 protected:
  void SetUp() override {
    const std::string susie = dir_.File("susie");
    fs::create_directories(susie);
    for (const char* name : {"kvt_static_own", "kvt_crash_own", "kvt_hang_own"})
      test::CopySpi(name, susie);
    test::WriteText(dir_.File("config/Dravello/Susie.conf"), "[Plug-in]\nPath=" + susie + "\n");
  }

  // A KVT file whose magic is `magic` ("KVT1": the sound decoder's).
  std::string WriteKvt(const std::string& name, const test::Pixels& picture,
                       const char* magic = "KVT1") {
    std::vector<uint8_t> bytes = test::KvtBytes(picture);
    std::copy(magic, magic + 4, bytes.begin());
    test::WriteBytes(Path(name), bytes);
    return Path(name);
  }

  // The picture thinned in this process, as the run must save it.
  test::Pixels Thinned(const test::Pixels& picture) {
    test::WriteBytes(Path("expected.bmp"), test::BmpBytes(picture));
    TPicture expected;
    expected.LoadFromFile(Path("expected.bmp"));
    EXPECT_EQ(RunThinning(expected, RGB(0, 0, 0), RGB(255, 255, 255)), ThinningResult::Thinned);
    return test::PixelsOf(expected.Bitmap());
  }

  RunResult Run(const std::string& args) {
    return RunCommand("XDG_CONFIG_HOME=" + Quote(dir_.File("config")) +
                      " XDG_CACHE_HOME=" + Quote(dir_.File("cache")) + " " +
                      Quote(KEVRALE_BIN_DIR "/kevrale-thin") + " " + args);
  }
};

TEST_F(PluginFaultTest, AListRunGoesOnPastPluginsThatCrashOrHangAndNeverMixesPictures) {
  // Eight sound entries among two that crash their plug-in and two that
  // hang it.
  struct Entry {
    std::string name;
    int row = 0;  // the bar's row of a sound entry
  };
  std::vector<Entry> entries;
  std::ostringstream list;
  int row = 0;
  for (const char* name : {"k0.kvt", "c1.kvc", "k1.kvt", "h1.kvh", "k2.kvt", "k3.kvt", "c2.kvc",
                           "k4.kvt", "h2.kvh", "k5.kvt", "k6.kvt", "k7.kvt"}) {
    Entry e{name, row};
    const char* magic = name[0] == 'c' ? "KVTC" : name[0] == 'h' ? "KVTH" : "KVT1";
    WriteKvt(name, Bar(name[0] == 'k' ? row++ : 5), magic);
    entries.push_back(e);
    list << name << "\n";
  }
  std::ofstream(Path("list.txt")) << list.str();

  const RunResult r = Run("-j 2 --keep-going --plugin-timeout 1 --list " + Quote(Path("list.txt")));
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_TRUE(Contains(r.output, "kevrale-thin: 4 of 12 entries failed:")) << r.output;
  for (size_t i = 0; i < entries.size(); ++i) {
    const Entry& e = entries[i];
    const std::string where = "kevrale-thin: entry " + std::to_string(i + 1) + ", line " +
                              std::to_string(i + 1) + ": " + Path(e.name) +
                              ": Susie Plugins could not decode (";
    const std::string saved = Path(e.name.substr(0, 2) + "_s.bmp");
    if (e.name[0] == 'k') {
      EXPECT_FALSE(Contains(r.output, where)) << e.name;
      TPicture result;
      result.LoadFromFile(saved);
      EXPECT_EQ(test::PixelsOf(result.Bitmap()), Thinned(Bar(e.row))) << e.name;
    } else {
      const std::string plugin = e.name[0] == 'c' ? "kvt_crash_own.spi: crashed ("
                                                  : "kvt_hang_own.spi: gave no answer within 1 s";
      EXPECT_TRUE(Contains(r.output, where + plugin)) << e.name << "\n" << r.output;
      EXPECT_FALSE(fs::exists(saved)) << e.name;
    }
  }
}

TEST_F(PluginFaultTest, WithoutKeepGoingTheRunStopsAtTheCrashWithItsMessage) {
  WriteKvt("k0.kvt", Bar(2));
  WriteKvt("c1.kvc", Bar(5), "KVTC");
  WriteKvt("k1.kvt", Bar(7));
  std::ofstream(Path("list.txt")) << "k0.kvt\nc1.kvc\nk1.kvt\n";
  const RunResult r = Run("--list " + Quote(Path("list.txt")));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.output, "kevrale-thin: entry 2, line 2: " + Path("c1.kvc") +
                                     ": Susie Plugins could not decode (kvt_crash_own.spi: "
                                     "crashed ("))
      << r.output;
  EXPECT_TRUE(fs::exists(Path("k0_s.bmp")));
  EXPECT_FALSE(fs::exists(Path("k1_s.bmp")));

  // A single picture: the same message, and the next picture of the call
  // is decoded by a fresh process.
  const RunResult single = Run(Quote(Path("c1.kvc")) + " " + Quote(Path("k1.kvt")));
  EXPECT_EQ(single.status, 1);
  EXPECT_TRUE(Contains(single.output, "kevrale-thin: " + Path("c1.kvc") +
                                          ": Susie Plugins could not decode (kvt_crash_own.spi"))
      << single.output;
  EXPECT_TRUE(fs::exists(Path("k1_s.bmp"))) << single.output;
}

TEST_F(PluginFaultTest, AFirstInterruptEndsAHungPluginAtOnce) {
  // No time limit: without the interrupt the run would wait for ever. The
  // interrupt comes once the plug-in process runs (or, should it come
  // first, the process is ended as it starts).
  WriteKvt("h1.kvh", Bar(5), "KVTH");
  WriteKvt("k1.kvt", Bar(7));
  std::ofstream(Path("list.txt")) << "h1.kvh\nk1.kvt\n";
  // The plug-in's answers are cached by a first run, so that the only
  // child of the second is the hanging decoder, not the start-up's question.
  const std::string env = "XDG_CONFIG_HOME=" + Quote(dir_.File("config")) +
                          " XDG_CACHE_HOME=" + Quote(dir_.File("cache")) + " ";
  const std::string script =
      env + Quote(KEVRALE_BIN_DIR "/kevrale-thin") + " --formats >/dev/null; " + env +
      Quote(KEVRALE_BIN_DIR "/kevrale-thin") + " --plugin-timeout 0 --list " +
      Quote(Path("list.txt")) +
      " & pid=$!; i=0; while [ -z \"$(cat /proc/$pid/task/*/children 2>/dev/null)\" ] && "
      "[ $i -lt 600 ]; do sleep 0.1; "
      "i=$((i+1)); done; kill -INT $pid; wait $pid; echo status=$?";
  const RunResult r = RunCommand("timeout 120 sh -c " + Quote(script));
  EXPECT_TRUE(Contains(r.output, "kevrale-thin: interrupted; 0 of 2 entries done\nstatus=130"))
      << r.output;
  // The entry cut short is not reported as a failure of its own.
  EXPECT_FALSE(Contains(r.output, "entry 1, line 1")) << r.output;
  EXPECT_FALSE(fs::exists(Path("h1_s.bmp")));
  EXPECT_FALSE(fs::exists(Path("k1_s.bmp")));
}

TEST_F(PluginFaultTest, ThePluginProcessesEndWhenTheProgramIsKilledWhileOneHangs) {
  // No time limit: only the end of the program can end the hanging call.
  WriteKvt("h1.kvh", Bar(4), "KVTH");
  // (SIGINT takes the same road as SIGTERM; a program started in the
  // background by a shell ignores it, so it is not sent here.)
  for (const char* signal_name : {"KILL", "TERM"}) {
    SCOPED_TRACE(signal_name);
    const std::string script =
        "XDG_CONFIG_HOME=" + Quote(dir_.File("config")) +
        " XDG_CACHE_HOME=" + Quote(dir_.File("cache")) + " " +
        Quote(KEVRALE_BIN_DIR "/kevrale-thin") + " --plugin-timeout 0 " + Quote(Path("h1.kvh")) +
        " & cli=$!\n"
        // The hanging decoder's process is up, and then in its call.
        "i=0; while [ $i -lt 400 ] && [ -z \"$(pgrep -P $cli)\" ]; do "
        "sleep 0.01; i=$((i+1)); done\n"
        "sleep 0.5; children=$(pgrep -P $cli)\n"
        "echo \"children: $(echo $children | wc -w)\"\n"
        "kill -" +
        signal_name +
        " $cli; wait $cli\n"
        // A zombie has ended; it waits only for init to reap it.
        "sleep 0.3; for c in $children; do [ -e /proc/$c ] && "
        "[ \"$(cut -d' ' -f3 /proc/$c/stat)\" != Z ] && echo \"left: $c\"; done\n"
        "true\n";
    const RunResult r = RunCommand("sh -c " + Quote(script));
    EXPECT_FALSE(Contains(r.output, "children: 0")) << r.output;
    EXPECT_FALSE(Contains(r.output, "left:")) << r.output;
  }
}

}  // namespace
}  // namespace kevrale

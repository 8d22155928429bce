// Where kevrale-thin -o writes: through links, into pipes and devices, to
// standard output, in the format the name asks for, with the system's
// reason when it cannot, and never a half file or a stray temporary one,
// even when the process is killed in the middle of a save.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "CliProcess.h"
#include "Drawings.h"
#include "FifoReader.h"
#include "Files.h"
#include "PilReader.h"
#include "picture/TBitmap.h"
#include "platform/SystemError.h"

namespace kevrale {
namespace {

namespace fs = std::filesystem;
using test::Quote;
using test::RunCli;
using test::RunResult;

class SaveTargetTest : public test::CliFolderTest {
 protected:
  void SetUp() override {
    CliFolderTest::SetUp();
    source_ = Path("lines.bmp");
    drawing::CrossingStrokes().SaveToFile(source_);
    ASSERT_EQ(RunCli("-o " + Quote(Path("expected.bmp")) + " " + Quote(source_)).status, 0);
    expected_ = test::ReadText(Path("expected.bmp"));
    ASSERT_GT(expected_.size(), 54u);
  }
  std::set<std::string> Entries(const fs::path& folder) const {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename());
    return names;
  }

  std::string source_;
  std::string expected_;
};

TEST_F(SaveTargetTest, ALinkStaysALinkAndItsFileGetsThePicture) {
  fs::create_directory(dir_.File("out"));
  std::ofstream(dir_.File("out/real.bmp")) << "old";
  fs::create_symlink("real.bmp", dir_.File("out/inner"));
  fs::create_symlink(dir_.File("out/inner"), dir_.File("outer.bmp"));
  const RunResult r = RunCli("-o " + Quote(Path("outer.bmp")) + " " + Quote(source_));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(fs::is_symlink(dir_.File("outer.bmp")));
  EXPECT_TRUE(fs::is_symlink(dir_.File("out/inner")));
  EXPECT_TRUE(test::ReadText(Path("out/real.bmp")) == expected_);
  EXPECT_EQ(Entries(dir_.File("out")), (std::set<std::string>{"inner", "real.bmp"}));
}

TEST_F(SaveTargetTest, AReplacedFileKeepsItsModeAndOwner) {
  const std::string kept = Path("kept.bmp");
  std::ofstream(kept) << "old";
  // Only root may give the file to someone else.
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(kept.c_str(), 4321, 8765), 0);
  }
  ASSERT_EQ(::chmod(kept.c_str(), 0604), 0);
  const RunResult r = RunCli("-o " + Quote(kept) + " " + Quote(source_));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(test::ReadText(kept) == expected_);
  struct stat st;
  ASSERT_EQ(::stat(kept.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0604u);
  if (root) {
    EXPECT_EQ(st.st_uid, 4321u);
    EXPECT_EQ(st.st_gid, 8765u);
  }
}

TEST_F(SaveTargetTest, AFifoIsWrittenForTheReaderAndStays) {
  const std::string fifo = Path("pipe.bmp");
  test::FifoReader reader(fifo);
  const RunResult r = RunCli("-o " + Quote(fifo) + " " + Quote(source_));
  const std::string& received = reader.Received();
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(received == expected_) << received.size() << " bytes";
  EXPECT_TRUE(fs::is_fifo(fifo));
}

TEST_F(SaveTargetTest, ADeviceNodeStaysADevice) {
  const std::string node = Path("null.bmp");
  if (::mknod(node.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
    GTEST_SKIP() << "mknod needs root (CAP_MKNOD): " << SystemErrorText(errno);
  const RunResult r = RunCli("-o " + Quote(node) + " " + Quote(source_));
  ASSERT_EQ(r.status, 0) << r.output;
  struct stat st;
  ASSERT_EQ(::stat(node.c_str(), &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  EXPECT_EQ(st.st_rdev, makedev(1, 3));
}

TEST_F(SaveTargetTest, DashAndTheLinkToStandardOutputWriteThere) {
  // Into a file, and into a pipe.
  const std::string args = " " + Quote(source_);
  RunResult r = RunCli("-o -" + args + " > " + Quote(Path("dash.bmp")));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(test::ReadText(Path("dash.bmp")) == expected_);
  r = RunCli("-o -" + args + " | cat > " + Quote(Path("piped.bmp")));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(test::ReadText(Path("piped.bmp")) == expected_);
  EXPECT_FALSE(fs::exists(Path("-")));
  // /dev/stdout is such a link; a link of the test's own stands in for it,
  // so that a faulty save replaces only that one.
  fs::create_symlink("/proc/self/fd/1", dir_.File("stdout"));
  r = RunCli("-o " + Quote(Path("stdout")) + args + " | cat > " + Quote(Path("linked.bmp")));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(test::ReadText(Path("linked.bmp")) == expected_);
  EXPECT_TRUE(fs::is_symlink(dir_.File("stdout")));
}

TEST_F(SaveTargetTest, StandardOutputUnderItsNamesIsAppendedToNotReplaced) {
  // Standard output is a regular file, opened by the shell to append, or
  // once for two runs: each run's picture follows what came before.
  const std::string args = " " + Quote(source_);
  const std::string log = Path("log");
  for (const std::string name : {"/dev/stdout", "/dev/fd/1", "/proc/self/fd/1"}) {
    SCOPED_TRACE(name);
    std::ofstream(log) << "H\n";
    const RunResult r = RunCli("-o " + name + args + " >> " + Quote(log));
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(test::ReadText(log) == "H\n" + expected_);
  }
  const std::string thin = "XDG_CONFIG_HOME=/nonexistent/kevrale-tests " +
                           Quote(KEVRALE_BIN_DIR "/kevrale-thin") + " -o /dev/stdout" + args;
  ASSERT_EQ(test::RunCommand("{ " + thin + "; " + thin + "; } > " + Quote(log)).status, 0);
  EXPECT_TRUE(test::ReadText(log) == expected_ + expected_);
  EXPECT_EQ(Entries(dir_.Path()), (std::set<std::string>{"expected.bmp", "lines.bmp", "log"}));
}

TEST_F(SaveTargetTest, ACreateErrorGivesTheSystemsReason) {
  fs::create_directory(dir_.File("folder.bmp"));
  const struct {
    std::string output;
    int error;
  } cases[] = {{Path("missing/out.bmp"), ENOENT}, {Path("folder.bmp"), EISDIR}};
  for (const auto& c : cases) {
    const RunResult r = RunCli("-o " + Quote(c.output) + " " + Quote(source_));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(test::Contains(
        r.output, "ファイル " + c.output + " を作成できません: " + SystemErrorText(c.error)))
        << r.output;
  }
  EXPECT_TRUE(fs::is_directory(dir_.File("folder.bmp")));
}

TEST_F(SaveTargetTest, TheExtensionOfOutputChoosesTheFormatWithTheSamePixels) {
  const std::string args = " " + Quote(source_);
  for (const char* name : {"out.png", "out.TIF", "out.tiff"})
    ASSERT_EQ(RunCli("-o " + Quote(Path(name)) + args).status, 0) << name;
  EXPECT_TRUE(test::ReadText(Path("out.png")).starts_with("\x89PNG"));
  EXPECT_TRUE(test::ReadText(Path("out.TIF")).starts_with("II*"));
  std::string missing;
  const std::string bmp = pil::Describe({Path("expected.bmp")}, missing);
  if (!missing.empty()) GTEST_SKIP() << missing;
  EXPECT_TRUE(bmp.starts_with("RGB 40 30\n")) << bmp;
  for (const char* name : {"out.png", "out.TIF", "out.tiff"})
    EXPECT_EQ(pil::Describe({Path(name)}, missing), bmp) << name;
  // -o names its own format; --format is for the names the tool makes.
  EXPECT_EQ(RunCli("--format png -o " + Quote(Path("x.png")) + args).status, 2);
}

TEST_F(SaveTargetTest, FormatNamesTheResultBesideTheSource) {
  const RunResult r = RunCli("--format tif " + Quote(source_));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(test::ReadText(Path("lines_s.tif")).starts_with("II*"));
  EXPECT_FALSE(fs::exists(Path("lines_s.bmp")));
}

// The links under /proc/<pid>/fd that lead into `folder`: a save's file,
// named or not ("#<inode> (deleted)" for one made with O_TMPFILE).
bool WritesInto(pid_t pid, const std::string& folder) {
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  DIR* dir = ::opendir(fds.c_str());
  if (dir == nullptr) return false;
  bool found = false;
  while (const dirent* e = ::readdir(dir)) {
    char target[4096];
    const ssize_t n = ::readlink((fds + "/" + e->d_name).c_str(), target, sizeof target - 1);
    if (n > 0 && std::string(target, size_t(n)).starts_with(folder + "/")) found = true;
  }
  ::closedir(dir);
  return found;
}

TEST_F(SaveTargetTest, SigkillDuringASaveLeavesTheOldFileOrTheNewOneAndNothingElse) {
  // A picture large enough that its save takes a while.
  const std::string big = Path("big.bmp");
  TBitmap b(3000, 3000);
  for (int y = 0; y < 3000; ++y)
    for (int x = 0; x < 3000; ++x) b.SetPixel(x, y, (x / 7 + y / 5) % 9 == 0 ? clBlack : clWhite);
  b.SaveToFile(big);
  fs::create_directory(dir_.File("out"));
  const std::string out = Path("out/result.bmp");
  ASSERT_EQ(RunCli("-o " + Quote(Path("reference.bmp")) + " " + Quote(big)).status, 0);
  const std::string reference = test::ReadText(Path("reference.bmp"));
  const std::string old = expected_;

  int killed_while_saving = 0;
  for (const int delay_ms : {0, 1, 3, 10, 30, 100}) {
    SCOPED_TRACE(delay_ms);
    std::ofstream(out, std::ios::binary) << old;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::setenv("XDG_CONFIG_HOME", "/nonexistent/kevrale-tests", 1);
      const std::string program = KEVRALE_BIN_DIR "/kevrale-thin";
      ::execl(program.c_str(), program.c_str(), "-o", out.c_str(), big.c_str(), nullptr);
      ::_exit(127);
    }
    // Wait until the process holds a file in the output's folder.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    bool saving = false;
    int status = 0;
    while (!(saving = WritesInto(child, dir_.File("out"))) &&
           ::waitpid(child, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    if (saving) {
      std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
      ::kill(child, SIGKILL);
      ASSERT_EQ(::waitpid(child, &status, 0), child);
      killed_while_saving += WIFSIGNALED(status) ? 1 : 0;
    }
    EXPECT_EQ(Entries(dir_.File("out")), std::set<std::string>{"result.bmp"});
    const std::string now = test::ReadText(out);
    EXPECT_TRUE(now == old || now == reference) << "a file of " << now.size() << " bytes";
  }
  EXPECT_GT(killed_while_saving, 0) << "no kill met a save in progress";
}

}  // namespace
}  // namespace kevrale

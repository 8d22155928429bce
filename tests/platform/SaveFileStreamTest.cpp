// The save stream: what a name names stays what it is (a link a link, a
// device a device), a replaced file keeps its mode and owner, and no
// temporary file outlives a failure, an uncommitted stream or a signal.
#include "platform/SaveFileStream.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>

#include "FifoReader.h"
#include "TempFolder.h"
#include "platform/Exception.h"
#include "platform/SystemError.h"

namespace kevrale {
namespace {

namespace fs = std::filesystem;

std::string Contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Everything a descriptor gives until its end.
std::string ReadAll(int fd) {
  std::string out;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) out.append(buffer, size_t(n));
  return out;
}

mode_t CurrentUmask() {
  // Read in a child, so that this process never runs with another mask.
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) return 022;
  const pid_t child = ::fork();
  if (child == 0) {
    const mode_t mask = ::umask(0);
    static_cast<void>(::write(pipe_fds[1], &mask, sizeof mask));
    ::_exit(0);
  }
  mode_t mask = 022;
  static_cast<void>(::read(pipe_fds[0], &mask, sizeof mask));
  ::waitpid(child, nullptr, 0);
  ::close(pipe_fds[0]);
  ::close(pipe_fds[1]);
  return mask;
}

void Save(const std::string& path, const std::string& text) {
  TSaveFileStream stream(path);
  stream.WriteBuffer(text.data(), text.size());
  stream.Commit();
}

class SaveFileStreamTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { TSaveFileStream::UseNamedTemporaryFiles(GetParam()); }
  void TearDown() override { TSaveFileStream::UseNamedTemporaryFiles(false); }

  std::string Path(const std::string& name) const { return dir_.File(name); }
  std::set<std::string> Entries(const fs::path& folder) const {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename());
    return names;
  }
  std::set<std::string> Entries() const { return Entries(dir_.Path()); }

  test::TempFolder dir_;
};

TEST_P(SaveFileStreamTest, ANewFileAppearsWholeAtTheCommit) {
  const std::string target = Path("new.bmp");
  {
    TSaveFileStream stream(target);
    EXPECT_FALSE(stream.WritesInPlace());
    stream.WriteBuffer("picture", 7);
    EXPECT_FALSE(fs::exists(target)) << "the name shows a file before it is complete";
    stream.Commit();
  }
  EXPECT_EQ(Contents(target), "picture");
  EXPECT_EQ(Entries(), std::set<std::string>{"new.bmp"});
  EXPECT_EQ(fs::status(target).permissions(), fs::perms(0666 & ~CurrentUmask()))
      << "a new file has the mode that the umask gives";
}

TEST_P(SaveFileStreamTest, AReplacedFileKeepsItsModeUntilTheCommit) {
  const std::string target = Path("out.bmp");
  WriteText(target, "old contents");
  ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
  {
    TSaveFileStream stream(target);
    stream.WriteBuffer("new", 3);
    EXPECT_EQ(Contents(target), "old contents");
    stream.Commit();
  }
  EXPECT_EQ(Contents(target), "new");
  EXPECT_EQ(fs::status(target).permissions(), fs::perms(0640));
  EXPECT_EQ(Entries(), std::set<std::string>{"out.bmp"});
}

TEST_P(SaveFileStreamTest, AReplacedFileKeepsItsOwnerAndGroup) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root may give a file to another owner";
  const std::string target = Path("theirs.bmp");
  WriteText(target, "old");
  ASSERT_EQ(::chown(target.c_str(), 4321, 8765), 0);
  ASSERT_EQ(::chmod(target.c_str(), 0604), 0);
  Save(target, "new");
  struct stat st;
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 4321u);
  EXPECT_EQ(st.st_gid, 8765u);
  EXPECT_EQ(st.st_mode & 07777, 0604u);
}

TEST_P(SaveFileStreamTest, AnUncommittedStreamLeavesTheOldFileAndNothingElse) {
  const std::string target = Path("out.bmp");
  WriteText(target, "old contents");
  {
    TSaveFileStream stream(target);
    stream.WriteBuffer("half", 4);
  }  // destroyed without Commit, as when a save throws
  EXPECT_EQ(Contents(target), "old contents");
  EXPECT_EQ(Entries(), std::set<std::string>{"out.bmp"});
}

TEST_P(SaveFileStreamTest, LinksAreFollowedToTheFileTheyNameAndStayLinks) {
  fs::create_directory(dir_.File("real"));
  fs::create_directory(dir_.File("links"));
  const fs::path real = dir_.File("real/picture.bmp");
  WriteText(real, "old");
  // links/first -> second (relative) -> ../real/picture.bmp (relative to
  // its own folder, not to the current one).
  fs::create_symlink("second", dir_.File("links/first"));
  fs::create_symlink("../real/picture.bmp", dir_.File("links/second"));
  Save(dir_.File("links/first"), "new");
  EXPECT_EQ(Contents(real), "new");
  EXPECT_TRUE(fs::is_symlink(dir_.File("links/first")));
  EXPECT_EQ(fs::read_symlink(dir_.File("links/second")), "../real/picture.bmp");
  EXPECT_EQ(Entries(dir_.File("real")), std::set<std::string>{"picture.bmp"});
  EXPECT_EQ(Entries(dir_.File("links")), (std::set<std::string>{"first", "second"}));

  // A link to a name that does not exist yet makes that file.
  fs::create_symlink(dir_.File("real/later.bmp"), dir_.File("links/dangling"));
  Save(dir_.File("links/dangling"), "made");
  EXPECT_TRUE(fs::is_symlink(dir_.File("links/dangling")));
  EXPECT_EQ(Contents(dir_.File("real/later.bmp")), "made");
}

TEST_P(SaveFileStreamTest, WhatCannotBeMadeIsACreateErrorWithItsReason) {
  fs::create_directory(dir_.File("sub"));
  fs::create_symlink("b", dir_.File("a"));
  fs::create_symlink("a", dir_.File("b"));
  const std::pair<std::string, int> cases[] = {
      {Path("sub"), EISDIR},
      {Path("no such folder/x.bmp"), ENOENT},
      {"", ENOENT},
      {Path("a"), ELOOP},
  };
  for (const auto& [path, error] : cases) {
    SCOPED_TRACE(path);
    try {
      Save(path, "x");
      ADD_FAILURE() << "saved";
    } catch (const EFCreateError& e) {
      EXPECT_EQ(e.Message(), "ファイル " + path + " を作成できません");
      EXPECT_EQ(e.Reason(), SystemErrorText(error));
    }
  }
  EXPECT_EQ(Entries(), (std::set<std::string>{"a", "b", "sub"}));
}

TEST_P(SaveFileStreamTest, AReadOnlyFolderIsACreateError) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  fs::create_directory(dir_.File("locked"));
  WriteText(dir_.File("locked/old.bmp"), "old");
  fs::permissions(dir_.File("locked"), fs::perms(0555));
  EXPECT_THROW(Save(dir_.File("locked/old.bmp"), "x"), EFCreateError);
  EXPECT_THROW(Save(dir_.File("locked/new.bmp"), "x"), EFCreateError);
  fs::permissions(dir_.File("locked"), fs::perms(0755));
  EXPECT_EQ(Contents(dir_.File("locked/old.bmp")), "old");
  EXPECT_EQ(Entries(dir_.File("locked")), std::set<std::string>{"old.bmp"});
}

TEST_P(SaveFileStreamTest, AFifoIsWrittenInPlaceAndStays) {
  const std::string fifo = Path("pipe.bmp");
  test::FifoReader reader(fifo);
  const std::string picture(200000, 'p');  // more than a pipe holds
  {
    TSaveFileStream stream(fifo);
    EXPECT_TRUE(stream.WritesInPlace());
    stream.WriteBuffer(picture.data(), picture.size());
    stream.Commit();
  }
  EXPECT_EQ(reader.Received(), picture);
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_EQ(Entries(), std::set<std::string>{"pipe.bmp"});
}

TEST_P(SaveFileStreamTest, ASocketIsConnectedToAndStays) {
  const std::string path = Path("socket.bmp");
  const int server = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(server, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof address.sun_path);
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  ASSERT_EQ(::bind(server, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(server, 1), 0);
  // A save that never connects must not leave the reader waiting forever.
  const timeval timeout{30, 0};
  ::setsockopt(server, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  std::string received;
  std::thread reader([&] {
    const int client = ::accept(server, nullptr, nullptr);
    if (client < 0) return;
    received = ReadAll(client);
    ::close(client);
  });
  Save(path, "over the socket");
  reader.join();
  ::close(server);
  EXPECT_EQ(received, "over the socket");
  EXPECT_TRUE(fs::is_socket(path));
  EXPECT_EQ(Entries(), std::set<std::string>{"socket.bmp"});
}

TEST_P(SaveFileStreamTest, ADeviceNodeIsWrittenInPlaceAndStays) {
  // The nodes of /dev/null and /dev/full, made here rather than used there:
  // a faulty save must not replace the system's own.
  const std::string null_node = Path("null"), full_node = Path("full");
  if (::mknod(null_node.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0 ||
      ::mknod(full_node.c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0)
    GTEST_SKIP() << "mknod needs root (CAP_MKNOD): " << SystemErrorText(errno);
  Save(null_node, "into the void");
  EXPECT_TRUE(fs::is_character_file(null_node));
  // A full device refuses the write: the stream reports the system's reason.
  TSaveFileStream stream(full_node);
  EXPECT_TRUE(stream.WritesInPlace());
  EXPECT_THROW(stream.WriteBuffer("x", 1), EWriteError);
  EXPECT_EQ(stream.CreateError().Reason(), SystemErrorText(ENOSPC));
  EXPECT_TRUE(fs::is_character_file(full_node));
  EXPECT_EQ(Entries(), (std::set<std::string>{"full", "null"}));
}

INSTANTIATE_TEST_SUITE_P(TemporaryFiles, SaveFileStreamTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Named" : "Unnamed"; });

// A child process saves half a file and waits; the test sends it a signal.
struct SignalCase {
  bool named;
  int signal_number;
  const char* name;
};

class SaveSignalTest : public ::testing::TestWithParam<SignalCase> {};

TEST_P(SaveSignalTest, NoTemporaryFileOutlivesTheProcess) {
  struct sigaction current {};
  ::sigaction(GetParam().signal_number, nullptr, &current);
  if (GetParam().signal_number != SIGKILL && current.sa_handler == SIG_IGN)
    GTEST_SKIP() << "the signal is ignored in this process (started by nohup?)";
  char pattern[] = "/tmp/kevrale-signal-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const fs::path dir = pattern;
  const fs::path target = dir / "out.bmp";
  WriteText(target, "old");
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    TSaveFileStream::UseNamedTemporaryFiles(GetParam().named);
    TSaveFileStream stream(target.string());
    stream.WriteBuffer("half a picture", 14);
    static_cast<void>(::write(ready[1], "r", 1));
    for (;;) ::pause();
  }
  ::close(ready[1]);
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  ::close(ready[0]);
  // The named kind is there to be removed; the unnamed kind never shows.
  size_t entries = 0;
  for (const auto& e : fs::directory_iterator(dir)) {
    ++entries;
    if (e.path() != target) {
      EXPECT_TRUE(e.path().filename().string().starts_with(".kevrale-save-")) << e.path();
    }
  }
  EXPECT_EQ(entries, GetParam().named ? 2u : 1u);

  ASSERT_EQ(::kill(child, GetParam().signal_number), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == GetParam().signal_number)
      << "the process ends as the signal ends it; status " << status;
  std::set<std::string> left;
  for (const auto& e : fs::directory_iterator(dir)) left.insert(e.path().filename());
  EXPECT_EQ(left, std::set<std::string>{"out.bmp"});
  EXPECT_EQ(Contents(target), "old");
  fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Signals, SaveSignalTest,
                         ::testing::Values(SignalCase{true, SIGINT, "NamedSigint"},
                                           SignalCase{true, SIGTERM, "NamedSigterm"},
                                           SignalCase{true, SIGHUP, "NamedSighup"},
                                           SignalCase{false, SIGTERM, "UnnamedSigterm"},
                                           SignalCase{false, SIGKILL, "UnnamedSigkill"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kevrale

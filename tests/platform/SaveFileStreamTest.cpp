// The save stream: what a name names stays what it is (a link a link, a
// device a device), a replaced file keeps its mode and owner, and no
// temporary file outlives a failure, an uncommitted stream or a signal.
#include "platform/SaveFileStream.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
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
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

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

// A replacement of many megabytes is sent to the disk as it is written; the
// old file is there, whole, until the commit, and stays when there is none.
TEST_P(SaveFileStreamTest, ALargeReplacementIsStillWholeOrNotThere) {
  const std::string target = Path("large.bmp");
  const std::string old_contents(3 << 20, 'o');
  std::string chunk(1 << 20, 'n');
  for (const bool commit : {false, true}) {
    WriteText(target, old_contents);
    std::string written;
    {
      TSaveFileStream stream(target);
      for (int i = 0; i < 11; ++i) {
        chunk[0] = char('a' + i);
        stream.WriteBuffer(chunk.data(), chunk.size());
        written += chunk;
      }
      EXPECT_TRUE(Contents(target) == old_contents);
      if (commit) stream.Commit();
    }
    EXPECT_TRUE(Contents(target) == (commit ? written : old_contents)) << "commit " << commit;
    EXPECT_EQ(Entries(), std::set<std::string>{"large.bmp"});
  }
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

// Runs `save` in a child process as a user without privileges: the
// process's own user when it has none, else nobody (root would pass every
// permission check that the test is about). Returns what the child says:
// "saved", or the create error's reason; empty when it could not run.
std::string SaveAsUser(const std::function<void()>& save, std::string& skipped) {
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) return "";
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipe_fds[0]);
    std::string said = "saved";
    if (::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
      said = "!cannot become nobody: " + SystemErrorText(errno);
    } else {
      try {
        save();
      } catch (const EFCreateError& e) {
        said = e.Reason();
      }
    }
    static_cast<void>(::write(pipe_fds[1], said.data(), said.size()));
    ::_exit(0);
  }
  ::close(pipe_fds[1]);
  std::string said = ReadAll(pipe_fds[0]);
  ::close(pipe_fds[0]);
  ::waitpid(child, nullptr, 0);
  if (said.starts_with('!')) {
    skipped = said.substr(1);
    return "";
  }
  return said;
}

TEST_P(SaveFileStreamTest, AWritableFileThatCannotBeReplacedIsWrittenInPlace) {
  // A folder the user may not write, holding a file the user may.
  fs::permissions(dir_.Path(), fs::perms(0755));
  const std::string locked = dir_.Sub("locked");
  const std::string file = Path("locked/old.bmp");
  WriteText(file, "an old picture that is longer than the new one");
  fs::permissions(file, fs::perms(0666));
  fs::create_hard_link(file, Path("locked/link.bmp"));
  fs::permissions(locked, fs::perms(0555));
  struct stat before;
  ASSERT_EQ(::stat(file.c_str(), &before), 0);
  std::string skipped;
  const std::string said = SaveAsUser([&] { Save(file, "new"); }, skipped);
  const std::string made = SaveAsUser([&] { Save(Path("locked/new.bmp"), "x"); }, skipped);
  fs::permissions(locked, fs::perms(0755));
  if (said.empty()) GTEST_SKIP() << skipped;
  EXPECT_EQ(said, "saved");
  EXPECT_EQ(Contents(file), "new");
  struct stat after;
  ASSERT_EQ(::stat(file.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino) << "the file was replaced, not written";
  EXPECT_EQ(after.st_mode, before.st_mode);
  EXPECT_EQ(Contents(Path("locked/link.bmp")), "new") << "written in place, a hard link stays";
  // A new name still needs a writable folder.
  EXPECT_EQ(made, SystemErrorText(EACCES));
  EXPECT_EQ(Entries(locked), (std::set<std::string>{"link.bmp", "old.bmp"}));

  // A bind-mounted file cannot be renamed over (EBUSY): written in place.
  // A mount needs a mount namespace of its own, which root may make.
  const std::string mounted = Path("mounted.bmp"), backing = Path("backing.bmp");
  WriteText(mounted, "covered");
  WriteText(backing, "old backing file");
  const pid_t child = ::fork();
  if (child == 0) {
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ||
        ::mount(backing.c_str(), mounted.c_str(), nullptr, MS_BIND, nullptr) != 0)
      ::_exit(2);
    try {
      TSaveFileStream stream(mounted);
      const bool copies = stream.CopiesIntoPlace();
      stream.WriteBuffer("new", 3);
      stream.Commit();
      ::_exit(copies ? 0 : 3);
    } catch (const EFCreateError&) {
      ::_exit(1);
    }
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 2) GTEST_SKIP() << "no mount namespace here (needs root)";
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(Contents(backing), "new");
  EXPECT_EQ(Contents(mounted), "covered");
}

TEST_P(SaveFileStreamTest, AFileTheUserMayNotWriteIsRefusedAndKept) {
  // A writable folder; a read-only file (root's, when root runs the test).
  fs::permissions(dir_.Path(), fs::perms(0777));
  const std::string file = Path("theirs.bmp");
  WriteText(file, "theirs");
  fs::permissions(file, fs::perms(0444));
  std::string skipped;
  const std::string said = SaveAsUser([&] { Save(file, "mine"); }, skipped);
  if (said.empty()) GTEST_SKIP() << skipped;
  EXPECT_EQ(said, SystemErrorText(EACCES));
  EXPECT_EQ(Contents(file), "theirs");
  EXPECT_EQ(fs::status(file).permissions(), fs::perms(0444));
  EXPECT_EQ(Entries(), std::set<std::string>{"theirs.bmp"});
}

TEST_P(SaveFileStreamTest, StandardOutputUnderItsNamesIsWrittenWhereItStands) {
  // `save >> log`: standard output is a regular file opened for appending.
  const std::string log = Path("log");
  WriteText(log, "H\n");
  struct stat before;
  ASSERT_EQ(::stat(log.c_str(), &before), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    const int fd = ::open(log.c_str(), O_WRONLY | O_APPEND);
    if (fd < 0 || ::dup2(fd, STDOUT_FILENO) < 0) ::_exit(2);
    int failed = 0;
    for (const char* name : {"/dev/stdout", "/dev/fd/1", "/proc/self/fd/1"}) {
      try {
        TSaveFileStream stream(name);
        failed += !stream.WritesInPlace();
        stream.WriteBuffer(name, std::strlen(name));
        stream.WriteBuffer(";", 1);
        stream.Commit();
      } catch (const EFCreateError&) {
        ++failed;
      }
    }
    // Another name of the same file is that file, replaced as any other.
    failed += TSaveFileStream::NamesStandardOutput(log);
    ::_exit(failed);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(Contents(log), "H\n/dev/stdout;/dev/fd/1;/proc/self/fd/1;");
  struct stat after;
  ASSERT_EQ(::stat(log.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(Entries(), std::set<std::string>{"log"});
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
    const rlimit no_core{0, 0};  // SIGQUIT would dump core
    ::setrlimit(RLIMIT_CORE, &no_core);
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
                                           SignalCase{true, SIGQUIT, "NamedSigquit"},
                                           SignalCase{false, SIGKILL, "UnnamedSigkill"}),
                         [](const auto& info) { return std::string(info.param.name); });

// Where no unnamed file can be made, SIGKILL leaves the named temporary
// file; the next save into that folder removes it, and only such files.
TEST(SaveStaleTemporaryTest, TheNextSaveRemovesWhatAKilledSaveLeft) {
  test::TempFolder dir;
  const std::string target = dir.File("out.bmp");
  WriteText(target, "old");
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    TSaveFileStream::UseNamedTemporaryFiles(true);
    TSaveFileStream stream(target);
    stream.WriteBuffer("half a picture", 14);
    static_cast<void>(::write(ready[1], "r", 1));
    for (;;) ::pause();
  }
  ::close(ready[1]);
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  ::close(ready[0]);
  ASSERT_EQ(::kill(child, SIGKILL), 0);
  ASSERT_EQ(::waitpid(child, nullptr, 0), child);
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(dir.Path()))
    if (e.path().filename() != "out.bmp") left.push_back(e.path().filename());
  ASSERT_EQ(left.size(), 1u) << "SIGKILL cannot be caught: the file stays until the next save";
  const std::string killed = left[0];

  // Beside it: the same kind of name but in use (locked), or just made;
  // names that only look alike; a folder.
  const auto make_old = [&](const std::string& name) {
    WriteText(dir.File(name), "x");
    const timespec old[2] = {{::time(nullptr) - 7200, 0}, {::time(nullptr) - 7200, 0}};
    ::utimensat(AT_FDCWD, dir.File(name).c_str(), old, 0);
  };
  make_old(killed);
  make_old(".kevrale-save-Locked000000");
  const int locked = ::open(dir.File(".kevrale-save-Locked000000").c_str(), O_RDONLY);
  ASSERT_EQ(::flock(locked, LOCK_EX), 0);
  WriteText(dir.File(".kevrale-save-JustMade0000"), "x");
  make_old(".kevrale-save-short");
  make_old(".kevrale-save-Not-Letters!");
  make_old("kevrale-save-NoDotPrefix00");
  fs::create_directory(dir.File(".kevrale-save-AFolder00000"));
  std::set<std::string> kept = {".kevrale-save-Locked000000",
                                ".kevrale-save-JustMade0000",
                                ".kevrale-save-short",
                                ".kevrale-save-Not-Letters!",
                                "kevrale-save-NoDotPrefix00",
                                ".kevrale-save-AFolder00000",
                                "out.bmp"};
  if (::geteuid() == 0) {
    // Another user's is not this user's to remove.
    make_old(".kevrale-save-OtherUser000");
    ASSERT_EQ(::chown(dir.File(".kevrale-save-OtherUser000").c_str(), 4321, 4321), 0);
    kept.insert(".kevrale-save-OtherUser000");
  }

  TSaveFileStream::UseNamedTemporaryFiles(true);
  Save(target, "new");
  TSaveFileStream::UseNamedTemporaryFiles(false);
  ::close(locked);
  std::set<std::string> now;
  for (const auto& e : fs::directory_iterator(dir.Path())) now.insert(e.path().filename());
  EXPECT_EQ(now, kept);
  EXPECT_EQ(Contents(target), "new");
}

}  // namespace
}  // namespace kevrale

#include "platform/SaveFileStream.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string_view>

#include "platform/Exception.h"
#include "platform/FileName.h"
#include "platform/Format.h"
#include "platform/SystemError.h"
#include "platform/TemporaryFiles.h"

namespace kevrale {

namespace {

// Links followed before the chain counts as a loop, as the kernel counts.
constexpr int kMaxLinks = 40;

// A second descriptor of an open file (none for -1), closed with it.
class SecondDescriptor {
 public:
  explicit SecondDescriptor(int fd) : fd_(fd >= 0 ? ::fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1) {}
  ~SecondDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  SecondDescriptor(const SecondDescriptor&) = delete;
  SecondDescriptor& operator=(const SecondDescriptor&) = delete;
  int Fd() const { return fd_; }

 private:
  int fd_;
};

// Names tried before giving up on finding a free temporary name.
constexpr int kNameAttempts = 100;

std::atomic<bool> g_named_only{false};

// The name that a chain of symbolic links starting at `path` finally
// leads to: the first name that is no link, or a missing one. Relative
// link contents are taken from the link's own folder. 0, or an errno.
int FollowLinks(const std::string& path, std::string& final_name) {
  std::string name = path;
  for (int links = 0;; ++links) {
    struct stat st;
    if (::lstat(name.c_str(), &st) != 0) {
      if (errno != ENOENT) return errno;
      break;  // a name still to be made
    }
    if (!S_ISLNK(st.st_mode)) break;
    if (links == kMaxLinks) return ELOOP;
    // st_size is not to be trusted: /proc's links report none.
    char content[PATH_MAX];
    const ssize_t n = ::readlink(name.c_str(), content, sizeof content);
    if (n < 0) return errno;
    if (size_t(n) == sizeof content) return ENAMETOOLONG;
    const std::string next(content, size_t(n));
    name = next.starts_with('/') ? next : std::string(ExtractFilePath(name)) + next;
  }
  final_name = name;
  return 0;
}

constexpr char kTemporaryPrefix[] = ".kevrale-save-";
constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr size_t kRandomLetters = 12;
// How long a temporary file must have been left unchanged before another
// save takes it for one left behind: where locks tell that nobody writes
// it, long enough to cover the moment between making it and locking it;
// where they cannot tell, long beyond any pause of a running save.
constexpr time_t kStaleUnlockedSeconds = 60;
constexpr time_t kStaleUnlockableSeconds = 3600;

// A fresh name for a temporary file in `folder`: hidden, and unlikely to
// be anyone else's.
std::string TemporaryName(const std::string& folder) {
  thread_local std::mt19937_64 random{std::random_device{}()};
  std::string name = folder + kTemporaryPrefix;
  for (size_t i = 0; i < kRandomLetters; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
  return name;
}

bool IsTemporaryName(std::string_view name) {
  const std::string_view prefix = kTemporaryPrefix;
  if (name.size() != prefix.size() + kRandomLetters || !name.starts_with(prefix)) return false;
  return name.substr(prefix.size()).find_first_not_of(kLetters) == std::string_view::npos;
}

// Removes from `folder` the temporary files of saves of this user that
// ended without removing them (killed outright): named as TemporaryName
// names them, regular, owned by the user, locked by no one, and unchanged
// for long enough.
void RemoveStaleTemporaries(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  const int dir_fd = ::dirfd(dir);
  const time_t now = ::time(nullptr);
  while (const dirent* entry = ::readdir(dir)) {
    if (!IsTemporaryName(entry->d_name)) continue;
    struct stat st;
    if (::fstatat(dir_fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
        st.st_uid != ::geteuid() || now - st.st_mtime < kStaleUnlockedSeconds)
      continue;
    const int fd =
        ::openat(dir_fd, entry->d_name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) continue;
    struct stat opened;
    bool stale =
        ::fstat(fd, &opened) == 0 && opened.st_ino == st.st_ino && opened.st_dev == st.st_dev;
    if (stale && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      // Held by a save that is running; or a file system without locks,
      // where only a long time unchanged tells.
      stale = errno != EWOULDBLOCK && now - opened.st_mtime >= kStaleUnlockableSeconds;
    }
    if (stale) ::unlinkat(dir_fd, entry->d_name, 0);
    ::close(fd);
  }
  ::closedir(dir);
}

// Whether `path` is where a file system is mounted (a bind-mounted file):
// such a name cannot be replaced, only written.
bool IsMountPoint(const std::string& path) {
  struct statx st;
  if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BASIC_STATS, &st) != 0) return false;
  return (st.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0 &&
         (st.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
}

// Whether `name` is one of the names of this process's descriptor 1.
bool IsStandardOutputName(const std::string& name) {
  const std::string own = "/proc/" + std::to_string(::getpid()) + "/fd/1";
  return name == "/dev/stdout" || name == "/dev/fd/1" || name == "/proc/self/fd/1" ||
         name == "/proc/thread-self/fd/1" || name == own;
}

// Whether an O_TMPFILE failure means only that the file system (or the
// kernel) cannot make such files.
bool NoUnnamedFiles(int error) {
  return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

// An unnamed file gets its name through its descriptor's link under /proc;
// without /proc it could never be named.
bool UnnamedFilesUsable() {
  static const bool proc = ::access("/proc/self/fd", X_OK) == 0;
  return proc && !g_named_only.load();
}

}  // namespace

void TSaveFileStream::UseNamedTemporaryFiles(bool named) {
  g_named_only.store(named);
}

bool TSaveFileStream::NamesStandardOutput(const std::string& path) {
  std::string name = path;
  bool named = false;
  for (int links = 0; links <= kMaxLinks && !named; ++links) {
    named = IsStandardOutputName(name);
    char content[PATH_MAX];
    const ssize_t n = ::readlink(name.c_str(), content, sizeof content);
    if (named || n < 0 || size_t(n) == sizeof content) break;
    const std::string next(content, size_t(n));
    name = next.starts_with('/') ? next : std::string(ExtractFilePath(name)) + next;
  }
  // The name must still lead to what descriptor 1 has open.
  struct stat named_st, output_st;
  return named && ::stat(path.c_str(), &named_st) == 0 && ::fstat(STDOUT_FILENO, &output_st) == 0 &&
         named_st.st_dev == output_st.st_dev && named_st.st_ino == output_st.st_ino;
}

TSaveFileStream::TSaveFileStream(StandardOutputTag) : TFileStream(STDOUT_FILENO, "-") {
  owns_handle_ = false;
}

TSaveFileStream::TSaveFileStream(const std::string& path) : TFileStream(-1, path) {
  // The system calls would stop at a NUL and write to another name.
  if (path.empty()) Fail(ENOENT);
  if (path.find('\0') != std::string::npos) Fail(EINVAL);
  if (NamesStandardOutput(path)) {
    // Replacing it would take the file away from under the shell's
    // redirection ("-o /dev/stdout >> log"): it is written as "-" is.
    fd_ = STDOUT_FILENO;
    owns_handle_ = false;
    return;
  }
  struct stat st;
  bool exists = false;
  if (::stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) Fail(EISDIR);
    if (!S_ISREG(st.st_mode)) {
      OpenInPlace(path, S_ISSOCK(st.st_mode));
      return;
    }
    exists = true;
  } else if (errno != ENOENT) {
    Fail(errno);
  }
  if (const int error = FollowLinks(path, target_); error != 0) Fail(error);
  folder_ = std::string(ExtractFilePath(target_));
  if (folder_.empty()) folder_ = "./";
  if (exists) {
    // A link that the chain cannot follow by name (one of /proc's links to
    // an open file whose name is gone, say): the file is written where it is.
    struct stat final_st;
    if (::stat(target_.c_str(), &final_st) != 0 || final_st.st_dev != st.st_dev ||
        final_st.st_ino != st.st_ino) {
      OpenInPlace(path, false);
      return;
    }
  }
  replaces_ = exists;
  if (exists) {
    // Not the user's to write: refused, as cp refuses it (root may).
    if (::faccessat(AT_FDCWD, target_.c_str(), W_OK, AT_EACCESS) != 0) Fail(errno);
    if (IsMountPoint(target_)) {
      OpenScratch();
      return;
    }
  }
  const int error = OpenTemporary(exists ? &st : nullptr);
  if (error == 0) return;
  // A writable file in a folder where no file may be made: written in place.
  if (exists && (error == EACCES || error == EPERM)) {
    OpenScratch();
    return;
  }
  Fail(error);
}

TSaveFileStream::~TSaveFileStream() {
  if (!owns_handle_) fd_ = -1;
  CloseHandle();
  if (!committed_ && temporary_) ::unlink(temporary_->Path());
}

// A file that replaces another is renamed over it at the end, and its
// write-out then begins, as ext4 itself begins it on a rename over a file
// for the blocks it has yet to find (but not for room set aside, Reserve),
// so that a crash is unlikely to leave the name on a file not yet written.
// Not before the rename: where the disk discards the blocks that the
// rename frees, the discard waits behind whatever write-out is under way,
// and a 48 MiB picture's rename took as long as a third of cp's whole
// copy. Only a large file begins its write-out as it is written, every
// few tens of megabytes, so that little is left to begin after the rename.
constexpr size_t kWriteOutEvery = size_t(64) << 20;

size_t TSaveFileStream::Write(const void* buffer, size_t count) {
  const size_t written = TFileStream::Write(buffer, count);
  if (replaces_ && (mode_ == Mode::Unnamed || mode_ == Mode::Named)) {
    unsent_ += written;
    if (unsent_ >= kWriteOutEvery) {
      unsent_ = 0;
      // Only a hint: pages already on their way are left as they are.
      static_cast<void>(::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE));
    }
  }
  return written;
}

void TSaveFileStream::Fail(int error) const {
  throw EFCreateError(Format(kFileCreateMessage, {Path()}), error);
}

EFCreateError TSaveFileStream::CreateError() const {
  return EFCreateError(Format(kFileCreateMessage, {Path()}), LastError());
}

void TSaveFileStream::OpenInPlace(const std::string& path, bool is_socket) {
  mode_ = Mode::InPlace;
  if (!is_socket) {
    // A regular file reached here is one the links could not name; it is
    // emptied first, as a new picture replaces it.
    struct stat st;
    const bool regular = ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    fd_ = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | (regular ? O_TRUNC : 0));
    if (fd_ < 0) Fail(errno);
    return;
  }
  // A socket is not opened but connected to.
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) Fail(ENAMETOOLONG);
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) Fail(errno);
  if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    const int error = errno;
    CloseHandle();
    Fail(error);
  }
}

int TSaveFileStream::OpenTemporary(const struct stat* replaced) {
  InstallTemporaryFileCleanup();
  // The kernel applies the umask to a new file's mode; a replaced file's
  // own mode is set below, before any of the picture is written.
  if (UnnamedFilesUsable()) {
    fd_ = ::open(folder_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd_ < 0 && !NoUnnamedFiles(errno)) return errno;
  }
  if (fd_ >= 0) {
    mode_ = Mode::Unnamed;
  } else {
    mode_ = Mode::Named;
    RemoveStaleTemporaries(folder_);
    for (int attempt = 0; fd_ < 0; ++attempt) {
      // Registered before the file exists, so that a signal never finds it
      // unregistered.
      temporary_ = std::make_unique<TemporaryFileName>(TemporaryName(folder_));
      fd_ = ::open(temporary_->Path(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd_ >= 0) break;
      const int error = errno;
      temporary_.reset();
      if (error != EEXIST || attempt == kNameAttempts) return error;
    }
    // Tells a later save that this file is being written (a file system
    // without locks refuses; its age then tells).
    static_cast<void>(::flock(fd_, LOCK_EX | LOCK_NB));
  }
  if (replaced && !KeepOwnerAndMode(*replaced)) {
    // The destructor does not run for a constructor that fails.
    const int error = errno;
    CloseHandle();
    if (temporary_) ::unlink(temporary_->Path());
    temporary_.reset();
    Fail(error);
  }
  return 0;
}

void TSaveFileStream::OpenScratch() {
  mode_ = Mode::CopyIn;
  // Unnamed, so that nothing is left whatever ends the process; in the
  // temporary folder, else in memory.
  const char* folder = std::getenv("TMPDIR");
  if (folder == nullptr || *folder != '/') folder = "/tmp";
  fd_ = ::open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd_ < 0) fd_ = ::memfd_create("kevrale-save", MFD_CLOEXEC);
  if (fd_ < 0) Fail(errno);
}

bool TSaveFileStream::KeepOwnerAndMode(const struct stat& replaced) {
  // Owner and group where the process may set them; the group alone where
  // only that is allowed (a member of the file's group). Changing the owner
  // clears the set-user-ID bits, so the mode comes after.
  if (::fchown(fd_, replaced.st_uid, replaced.st_gid) != 0)
    static_cast<void>(::fchown(fd_, uid_t(-1), replaced.st_gid));
  return ::fchmod(fd_, replaced.st_mode & 07777) == 0;
}

void TSaveFileStream::CloseChecked() {
  // A file system may report a failed write only when the file is closed.
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0 && errno != EINTR) Fail(errno);
}

void TSaveFileStream::Commit() {
  if (committed_) return;
  switch (mode_) {
    case Mode::InPlace:
      if (owns_handle_) CloseChecked();
      break;
    case Mode::Unnamed:
      CommitUnnamed();
      break;
    case Mode::Named:
      CommitNamed();
      break;
    case Mode::CopyIn:
      CommitCopyIn();
      break;
  }
  committed_ = true;
}

void TSaveFileStream::CommitUnnamed() {
  // linkat with AT_EMPTY_PATH needs a capability; the descriptor's name
  // under /proc needs none.
  const std::string self = "/proc/self/fd/" + std::to_string(fd_);
  if (!replaces_) {
    // A new name appears complete or not at all.
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target_.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      try {
        CloseChecked();
      } catch (...) {
        ::unlink(target_.c_str());
        throw;
      }
      return;
    }
    // Someone made the name meanwhile: replace it as any other file.
    if (errno != EEXIST) Fail(errno);
  }
  for (int attempt = 0;; ++attempt) {
    temporary_ = std::make_unique<TemporaryFileName>(TemporaryName(folder_));
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temporary_->Path(), AT_SYMLINK_FOLLOW) == 0)
      break;
    const int error = errno;
    temporary_.reset();
    if (error != EEXIST || attempt == kNameAttempts) Fail(error);
  }
  CommitNamed();
}

void TSaveFileStream::CommitCopyIn() {
  // The file keeps its inode, mode, owner and links; it is emptied only of
  // what lies past the new end, after the new contents are in.
  const off_t size = ::lseek(fd_, 0, SEEK_END);
  if (size < 0 || ::lseek(fd_, 0, SEEK_SET) != 0) Fail(errno);
  const int out = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
  if (out < 0) Fail(errno);
  int error = 0;
  char buffer[1 << 16];
  for (off_t done = 0; done < size && error == 0;) {
    const ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n <= 0) {
      error = n < 0 ? errno : EIO;
      if (error == EINTR) error = 0;
      continue;
    }
    for (ssize_t written = 0; written < n && error == 0;) {
      const ssize_t w = ::write(out, buffer + written, size_t(n - written));
      if (w > 0)
        written += w;
      else if (w < 0 && errno != EINTR)
        error = errno;
    }
    done += n;
  }
  if (error == 0 && ::ftruncate(out, size) != 0) error = errno;
  if (::close(out) != 0 && errno != EINTR && error == 0) error = errno;
  if (error != 0) Fail(error);
  CloseChecked();
}

void TSaveFileStream::CommitNamed() {
  // The file stays open past the close that is checked, for the write-out
  // that begins after the rename (kWriteOutEvery).
  const SecondDescriptor kept(replaces_ ? fd_ : -1);
  CloseChecked();
  if (::rename(temporary_->Path(), target_.c_str()) != 0) Fail(errno);
  // The name is gone: nothing is left to remove.
  temporary_.reset();
  // Only a hint: pages already on their way are left as they are.
  if (kept.Fd() >= 0) static_cast<void>(::sync_file_range(kept.Fd(), 0, 0, SYNC_FILE_RANGE_WRITE));
}

}  // namespace kevrale

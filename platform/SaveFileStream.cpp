#include "platform/SaveFileStream.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <random>

#include "platform/Exception.h"
#include "platform/FileName.h"
#include "platform/Format.h"
#include "platform/SystemError.h"
#include "platform/TemporaryFiles.h"

namespace kevrale {

namespace {

// Links followed before the chain counts as a loop, as the kernel counts.
constexpr int kMaxLinks = 40;
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

// A fresh name for a temporary file in `folder`: hidden, and unlikely to
// be anyone else's.
std::string TemporaryName(const std::string& folder) {
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937_64 random{std::random_device{}()};
  std::string name = folder + ".kevrale-save-";
  for (int i = 0; i < 12; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
  return name;
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

TSaveFileStream::TSaveFileStream(StandardOutputTag) : TFileStream(STDOUT_FILENO, "-") {
  owns_handle_ = false;
}

TSaveFileStream::TSaveFileStream(const std::string& path) : TFileStream(-1, path) {
  // The system calls would stop at a NUL and write to another name.
  if (path.empty()) Fail(ENOENT);
  if (path.find('\0') != std::string::npos) Fail(EINVAL);
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
  OpenTemporary(exists ? &st : nullptr);
}

TSaveFileStream::~TSaveFileStream() {
  if (!owns_handle_) fd_ = -1;
  CloseHandle();
  if (!committed_ && temporary_) ::unlink(temporary_->Path());
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

void TSaveFileStream::OpenTemporary(const struct stat* replaced) {
  InstallTemporaryFileCleanup();
  // The kernel applies the umask to a new file's mode; a replaced file's
  // own mode is set below, before any of the picture is written.
  if (UnnamedFilesUsable()) {
    fd_ = ::open(folder_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd_ < 0 && !NoUnnamedFiles(errno)) Fail(errno);
  }
  if (fd_ >= 0) {
    mode_ = Mode::Unnamed;
  } else {
    mode_ = Mode::Named;
    for (int attempt = 0; fd_ < 0; ++attempt) {
      // Registered before the file exists, so that a signal never finds it
      // unregistered.
      temporary_ = std::make_unique<TemporaryFileName>(TemporaryName(folder_));
      fd_ = ::open(temporary_->Path(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd_ >= 0) break;
      const int error = errno;
      temporary_.reset();
      if (error != EEXIST || attempt == kNameAttempts) Fail(error);
    }
  }
  if (replaced && !KeepOwnerAndMode(*replaced)) {
    // The destructor does not run for a constructor that fails.
    const int error = errno;
    CloseHandle();
    if (temporary_) ::unlink(temporary_->Path());
    Fail(error);
  }
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

void TSaveFileStream::CommitNamed() {
  CloseChecked();
  if (::rename(temporary_->Path(), target_.c_str()) != 0) Fail(errno);
  // The name is gone: nothing is left to remove.
  temporary_.reset();
}

}  // namespace kevrale

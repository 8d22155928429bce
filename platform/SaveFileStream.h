// The stream that every save writes through. The name keeps naming what it
// named:
// - a symbolic link (any depth) is followed, and the file it finally names
//   is replaced in that file's own folder; the link stays a link;
// - a regular file, or a name that does not exist yet, is written to a
//   temporary file in the same folder that Commit() puts in its place in
//   one step, so that the name shows the old file or the new one, never a
//   part of either. A replaced file keeps its permission bits, and its
//   owner and group where the process may set them;
// - a character or block device, a FIFO or a socket is written directly:
//   no temporary file, no rename, the node stays as it is;
// - the process's own standard output, under any of its names
//   (/dev/stdout, /dev/fd/1, /proc/self/fd/1, a link to one of them), is
//   written as standard output is: where it stands, never replaced.
// An existing file that the user may not write is refused with the
// system's reason (EACCES), as cp refuses it, rather than replaced by a
// new file of the user's. One that may be written but cannot be replaced
// (its folder is read-only to the user, or it is a mount point of its
// own, as a bind-mounted file is) gets the finished result written into
// it in place: the result is first written whole to an unnamed scratch
// file in the temporary folder (or in memory), and Commit() copies it in.
// The temporary file has no name while it is written (O_TMPFILE) and gets
// one only once it is complete. Where the file system cannot make such a
// file, a named one is made and registered with TemporaryFiles, so that
// neither an error nor SIGINT, SIGTERM, SIGHUP, SIGQUIT or SIGPIPE leaves
// it behind; it is locked (flock) while it is written. Such a save first
// removes the named temporary files that saves of the same user left in
// that folder when they were killed outright (SIGKILL, a crash, a power
// cut): those with the name that this stream gives, owned by the user,
// locked by nobody and unchanged for a minute (an hour where the file
// system has no locks).
#pragma once

#include <sys/stat.h>

#include <memory>
#include <string>

#include "platform/Exception.h"
#include "platform/Stream.h"

namespace kevrale {

class TemporaryFileName;

class TSaveFileStream : public TFileStream {
 public:
  // Opens the stream for `path`. Raises EFCreateError
  // "ファイル %s を作成できません" with the path as given and the system's
  // reason: for a folder, a missing or unwritable folder, a loop of links.
  explicit TSaveFileStream(const std::string& path);
  // The process's standard output, written directly; "-" in messages.
  struct StandardOutputTag {};
  explicit TSaveFileStream(StandardOutputTag);
  // An uncommitted temporary file is removed; the old file stays as it was.
  ~TSaveFileStream() override;

  // Puts the written file in its place. Raises EFCreateError with the
  // reason when that fails; the old file then stays as it was.
  void Commit();

  // Writes as TFileStream does; a file that is to replace another is sent
  // on its way to the disk as it is written (see the .cpp).
  size_t Write(const void* buffer, size_t count) override;

  // The create error for this stream's name, with the system's reason for
  // the last failed write (for a save whose writing failed half-way).
  EFCreateError CreateError() const;

  // True when the file is written in place (a device, a FIFO, a socket,
  // standard output) rather than by way of a temporary file.
  bool WritesInPlace() const { return mode_ == Mode::InPlace; }
  // True when the finished result is copied into the existing file.
  bool CopiesIntoPlace() const { return mode_ == Mode::CopyIn; }

  // Whether `path` names this process's standard output: a name of
  // descriptor 1 (/dev/stdout, /dev/fd/1, /proc/self/fd/1 or /proc/PID/fd/1,
  // directly or through links) that leads to the file descriptor 1 has open.
  static bool NamesStandardOutput(const std::string& path);

  // Makes every later stream use a named temporary file, as on a file
  // system without O_TMPFILE; for the tests of that path.
  static void UseNamedTemporaryFiles(bool named);

 private:
  enum class Mode { InPlace, Unnamed, Named, CopyIn };

  [[noreturn]] void Fail(int error) const;
  void OpenInPlace(const std::string& path, bool is_socket);
  // 0, or the errno that kept the temporary file from being made.
  int OpenTemporary(const struct stat* replaced);
  void OpenScratch();
  void CommitCopyIn();
  bool KeepOwnerAndMode(const struct stat& replaced);
  void CommitUnnamed();
  void CommitNamed();
  void CloseChecked();

  Mode mode_ = Mode::InPlace;
  bool owns_handle_ = true;
  bool replaces_ = false;  // the final name exists and is replaced
  bool committed_ = false;
  size_t unsent_ = 0;                             // bytes written since the last write-out began
  std::string target_;                            // the name the links finally lead to
  std::string folder_;                            // its folder, "./" for a bare name
  std::unique_ptr<TemporaryFileName> temporary_;  // the named temporary file
};

}  // namespace kevrale

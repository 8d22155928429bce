#include "platform/Stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/Exception.h"
#include "platform/Format.h"

namespace kevrale {

namespace {

int64_t SeekMemory(size_t& position, size_t size, int64_t offset, SeekOrigin origin) {
  int64_t base = 0;
  if (origin == SeekOrigin::Current) base = int64_t(position);
  if (origin == SeekOrigin::End) base = int64_t(size);
  const int64_t target = base + offset;
  if (target >= 0) position = size_t(target);
  return int64_t(position);
}

}  // namespace

int64_t TStream::Size() {
  const int64_t here = Position();
  const int64_t size = Seek(0, SeekOrigin::End);
  SetPosition(here);
  return size;
}

void TStream::ReadBuffer(void* buffer, size_t count) {
  auto* out = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    const size_t n = Read(out, count);
    if (n == 0) throw EReadError(kStreamReadErrorMessage);
    out += n;
    count -= n;
  }
}

size_t TStream::ReadAt(void* buffer, size_t count, int64_t offset) {
  if (offset < 0 || Seek(offset, SeekOrigin::Beginning) != offset) return 0;
  return Read(buffer, count);
}

void TStream::ReadBufferAt(void* buffer, size_t count, int64_t offset) {
  auto* out = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    const size_t n = ReadAt(out, count, offset);
    if (n == 0) throw EReadError(kStreamReadErrorMessage);
    out += n;
    count -= n;
    offset += int64_t(n);
  }
}

void TStream::WriteBuffer(const void* buffer, size_t count) {
  const auto* in = static_cast<const uint8_t*>(buffer);
  while (count > 0) {
    const size_t n = Write(in, count);
    if (n == 0) throw EWriteError(kStreamWriteErrorMessage);
    in += n;
    count -= n;
  }
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  std::vector<uint8_t> chunk(size_t(std::min<int64_t>(count, 1 << 20)));
  int64_t left = count;
  while (left > 0) {
    const size_t n = size_t(std::min<int64_t>(left, int64_t(chunk.size())));
    source.ReadBuffer(chunk.data(), n);
    WriteBuffer(chunk.data(), n);
    left -= int64_t(n);
  }
  return count;
}

void CheckPictureFile(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) throw EFOpenError(Format(kFileOpenMessage, {path}), errno);
  if (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) return;
  throw EFOpenError(Format(kFileOpenMessage, {path}), EINVAL, "not a regular file");
}

TFileStream::TFileStream(const std::string& path, Mode mode) : path_(path) {
  // A name with a NUL byte would open a different file than the one named.
  if (path.find('\0') != std::string::npos) {
    if (mode == Mode::Read) throw EFOpenError(Format(kFileOpenMessage, {path}), EINVAL);
    throw EFCreateError(Format(kFileCreateMessage, {path}), EINVAL);
  }
  if (mode == Mode::Read) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) throw EFOpenError(Format(kFileOpenMessage, {path}), errno);
    // A folder opens for reading on Linux but is no file to load.
    struct stat st;
    const int error = ::fstat(fd_, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : 0;
    if (error != 0) {
      CloseHandle();
      throw EFOpenError(Format(kFileOpenMessage, {path}), error);
    }
  } else {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) throw EFCreateError(Format(kFileCreateMessage, {path}), errno);
  }
}

TFileStream::~TFileStream() {
  CloseHandle();
}

void TFileStream::CloseHandle() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

size_t TFileStream::Read(void* buffer, size_t count) {
  for (;;) {
    const ssize_t n = ::read(fd_, buffer, count);
    if (n >= 0) return size_t(n);
    // A failing device is no end of the file.
    if (errno != EINTR) {
      last_error_ = errno;
      throw EReadError(kStreamReadErrorMessage, errno);
    }
  }
}

size_t TFileStream::ReadAt(void* buffer, size_t count, int64_t offset) {
  if (offset < 0) return 0;
  for (;;) {
    const ssize_t n = ::pread(fd_, buffer, count, off_t(offset));
    if (n >= 0) return size_t(n);
    if (errno != EINTR) {
      last_error_ = errno;
      throw EReadError(kStreamReadErrorMessage, errno);
    }
  }
}

size_t TFileStream::Write(const void* buffer, size_t count) {
  for (;;) {
    const ssize_t n = ::write(fd_, buffer, count);
    if (n >= 0) return size_t(n);
    if (errno != EINTR) {
      last_error_ = errno;
      return 0;
    }
  }
}

int64_t TFileStream::Seek(int64_t offset, SeekOrigin origin) {
  const int whence = origin == SeekOrigin::Beginning ? SEEK_SET
                     : origin == SeekOrigin::Current ? SEEK_CUR
                                                     : SEEK_END;
  return int64_t(::lseek(fd_, off_t(offset), whence));
}

bool TFileStream::WritesAtPosition() {
  if (Position() < 0) return false;
  const int flags = ::fcntl(fd_, F_GETFL);
  return flags >= 0 && (flags & O_APPEND) == 0;
}

// The blocks of a file written in full are found before the writing:
// without them, ext4 reserves and tracks each page as it is written, and
// finds the blocks as it writes the pages out. Blocks set aside stay past
// the end until written (the size is kept), and a file system without the
// call, or without room, is left to the writing.
void TFileStream::Reserve(int64_t end) {
  if (end > 0) static_cast<void>(::fallocate(fd_, FALLOC_FL_KEEP_SIZE, 0, off_t(end)));
}

int64_t TFileStream::Size() {
  struct stat st;
  if (::fstat(fd_, &st) != 0) return 0;
  return int64_t(st.st_size);
}

size_t TMemoryStream::Read(void* buffer, size_t count) {
  if (position_ >= data_.size()) return 0;
  const size_t n = std::min(count, data_.size() - position_);
  std::memcpy(buffer, data_.data() + position_, n);
  position_ += n;
  return n;
}

size_t TMemoryStream::Write(const void* buffer, size_t count) {
  if (count == 0) return 0;
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  // A gap left by a seek past the end reads as zeros.
  if (position_ > data_.size()) data_.resize(position_);
  const size_t overwritten = std::min(count, data_.size() - position_);
  if (overwritten > 0) std::memcpy(data_.data() + position_, bytes, overwritten);
  // The rest is appended as it is copied; growing the vector first would
  // zero-fill it only to write it again, which costs as much as the copy
  // for the large blocks of a picture.
  data_.insert(data_.end(), bytes + overwritten, bytes + count);
  position_ += count;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, SeekOrigin origin) {
  return SeekMemory(position_, data_.size(), offset, origin);
}

void TMemoryStream::LoadFromFile(const std::string& path) {
  TFileStream file(path, TFileStream::Mode::Read);
  const int64_t size = file.Size();
  std::vector<uint8_t> data(static_cast<size_t>(std::max<int64_t>(size, 0)));
  file.ReadBuffer(data.data(), data.size());
  data_ = std::move(data);
  position_ = 0;
}

size_t TBorrowedMemoryStream::Read(void* buffer, size_t count) {
  if (position_ >= size_) return 0;
  const size_t n = std::min(count, size_ - position_);
  std::memcpy(buffer, data_ + position_, n);
  position_ += n;
  return n;
}

int64_t TBorrowedMemoryStream::Seek(int64_t offset, SeekOrigin origin) {
  return SeekMemory(position_, size_, offset, origin);
}

}  // namespace kevrale

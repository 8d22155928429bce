// Byte streams: the abstract TStream, a file stream over a POSIX descriptor
// and a growable memory stream. Short reads and writes through ReadBuffer
// and WriteBuffer raise EReadError and EWriteError.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kevrale {

enum class SeekOrigin { Beginning, Current, End };

// The messages of a file that cannot be opened or created; %s is the path.
inline constexpr const char* kFileOpenMessage = "ファイル %s は開けません";
inline constexpr const char* kFileCreateMessage = "ファイル %s を作成できません";
// The messages of a read or write that stopped short.
inline constexpr const char* kStreamReadErrorMessage = "ストリームの読み込みエラー";
inline constexpr const char* kStreamWriteErrorMessage = "ストリームの書き込みエラー";

class TStream {
 public:
  virtual ~TStream() = default;

  // Reads up to count bytes; returns how many were read (0 at the end). A
  // stream that cannot be read raises EReadError with the system's reason.
  virtual size_t Read(void* buffer, size_t count) = 0;
  // Writes up to count bytes; returns how many were written.
  virtual size_t Write(const void* buffer, size_t count) = 0;
  // Moves the position; returns the new position.
  virtual int64_t Seek(int64_t offset, SeekOrigin origin) = 0;

  int64_t Position() { return Seek(0, SeekOrigin::Current); }
  // Whether a write lands where Seek put the position: not so on a stream
  // that cannot seek (a pipe, a terminal) nor on a file opened to append.
  virtual bool WritesAtPosition() { return Position() >= 0; }
  void SetPosition(int64_t position) { Seek(position, SeekOrigin::Beginning); }
  virtual int64_t Size();

  void ReadBuffer(void* buffer, size_t count);
  void WriteBuffer(const void* buffer, size_t count);
  // Reads up to count bytes at `offset` from the beginning; returns how many
  // were read (0 past the end). The position may move, except in a file
  // stream, which reads without moving it (pread), so that one thread can
  // read rows while another has the position.
  virtual size_t ReadAt(void* buffer, size_t count, int64_t offset);
  // Reads exactly count bytes at `offset`; a stream that ends sooner raises
  // EReadError without an error number.
  void ReadBufferAt(void* buffer, size_t count, int64_t offset);
  // Copies count bytes (all that remain when count is 0) from source.
  int64_t CopyFrom(TStream& source, int64_t count);
  // Says that the stream will be written up to `end` bytes from its
  // beginning. Only a hint: a file sets the room aside at once.
  virtual void Reserve(int64_t) {}
};

// Raises EFOpenError "ファイル %s は開けません" for a name that no picture
// can be read from, before any reader or plug-in is asked: with the
// system's reason when it leads nowhere (a missing file, so that it fails
// at once rather than after every plug-in has been started and asked),
// with "not a regular file" when it leads to a FIFO, a socket or a device,
// which may make its reader wait forever (or never end). A folder is left
// to the opening, which says why.
void CheckPictureFile(const std::string& path);

// A file opened for reading, or created (truncated) for writing.
class TFileStream : public TStream {
 public:
  enum class Mode { Read, Create };
  // Raises EFOpenError "ファイル %s は開けません" or EFCreateError
  // "ファイル %s を作成できません" with the path, and the system's error
  // number (a folder opened for reading gives EISDIR).
  TFileStream(const std::string& path, Mode mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  size_t Read(void* buffer, size_t count) override;
  size_t Write(const void* buffer, size_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t Size() override;
  size_t ReadAt(void* buffer, size_t count, int64_t offset) override;
  bool WritesAtPosition() override;
  void Reserve(int64_t end) override;
  const std::string& Path() const { return path_; }
  // The file descriptor, for asking the system about the file.
  int Handle() const { return fd_; }
  // The errno of the last read or write that failed; 0 when none did.
  int LastError() const { return last_error_; }

 protected:
  TFileStream(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  void CloseHandle();
  int fd_ = -1;
  std::string path_;
  int last_error_ = 0;
};

// A stream over a byte vector that it owns.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<uint8_t> data) : data_(std::move(data)) {}

  size_t Read(void* buffer, size_t count) override;
  size_t Write(const void* buffer, size_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t Size() override { return int64_t(data_.size()); }

  void SetSize(size_t size) { data_.resize(size); }
  void Clear() {
    data_.clear();
    position_ = 0;
  }
  const uint8_t* Memory() const { return data_.data(); }
  uint8_t* Memory() { return data_.data(); }
  std::vector<uint8_t>& Data() { return data_; }
  void LoadFromFile(const std::string& path);

 private:
  std::vector<uint8_t> data_;
  size_t position_ = 0;
};

// A read-only stream over memory that the caller keeps alive.
class TBorrowedMemoryStream : public TStream {
 public:
  TBorrowedMemoryStream(const void* data, size_t size)
      : data_(static_cast<const uint8_t*>(data)), size_(size) {}
  size_t Read(void* buffer, size_t count) override;
  size_t Write(const void*, size_t) override { return 0; }
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t Size() override { return int64_t(size_); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
};

}  // namespace kevrale

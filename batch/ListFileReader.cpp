#include "batch/ListFileReader.h"

#include "batch/ListFileError.h"
#include "platform/Exception.h"
#include "platform/Format.h"
#include "platform/Stream.h"

namespace kevrale {

namespace {

constexpr uint8_t kLf = 10;
constexpr uint8_t kCr = 13;
constexpr uint8_t kCtrlZ = 26;

}  // namespace

ListFileReader::ListFileReader(const std::string& path, size_t max_line_length)
    : path_(path), max_line_length_(max_line_length) {
  if (path.empty() || path.find('\0') != std::string::npos) throw InOutErrorOf(kIoInvalidFilename);
  try {
    // A folder is refused (EISDIR), as the run-time library refuses it.
    file_ = std::make_unique<TFileStream>(path, TFileStream::Mode::Read);
  } catch (const EStreamError& e) {
    throw InOutErrorFor(e.ErrorNumber());
  }
  buffer_ = std::make_unique<uint8_t[]>(kBufferSize);
}

ListFileReader::~ListFileReader() = default;

bool ListFileReader::Fill() {
  if (begin_ < end_) return true;
  if (at_end_) return false;
  size_t n = 0;
  try {
    n = file_->Read(buffer_.get(), kBufferSize);
  } catch (const EStreamError& e) {
    throw InOutErrorFor(e.ErrorNumber());
  }
  if (n == 0) {
    at_end_ = true;
    return false;
  }
  begin_ = 0;
  end_ = n;
  return true;
}

bool ListFileReader::Eof() {
  if (!Fill()) return true;
  if (buffer_[begin_] == kCtrlZ) {
    // Nothing after a Ctrl-Z at the start of a line is read.
    at_end_ = true;
    begin_ = end_ = 0;
    return true;
  }
  return false;
}

std::string ListFileReader::ReadLine() {
  if (Eof()) throw InOutErrorOf(kIoReadBeyondEnd);
  line_number_ = next_line_number_;
  std::string line;
  while (Fill()) {
    const uint8_t* start = buffer_.get() + begin_;
    const size_t available = end_ - begin_;
    // Copy the run of ordinary bytes at once.
    size_t run = 0;
    while (run < available && start[run] != kLf && start[run] != kCr) ++run;
    line.append(reinterpret_cast<const char*>(start), run);
    begin_ += run;
    if (max_line_length_ > 0 && line.size() > max_line_length_)
      throw EListLineTooLong(
          Format("line %d is longer than %d bytes",
                 {std::to_string(line_number_), std::to_string(max_line_length_)}));
    if (begin_ == end_) continue;
    const uint8_t stop = buffer_[begin_++];
    ++next_line_number_;
    if (stop == kLf) return line;
    // A CR: the line ends only when an LF follows, which may be in the
    // next buffer load. A lone CR is dropped and the line goes on.
    if (Fill() && buffer_[begin_] == kLf) {
      ++begin_;
      return line;
    }
  }
  return line;
}

}  // namespace kevrale

// Reads a list file line by line through a buffer. A line ends at LF or at
// CR LF; a CR not followed by LF is dropped and the line goes on; a Ctrl-Z
// (byte 26) where a line begins ends the file; lines have no length limit
// unless the reader is given one; the last line counts without a break,
// and a break at the very end makes no further line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/Exception.h"

namespace kevrale {

class TFileStream;

// A line longer than the reader's limit.
KEVRALE_DECLARE_EXCEPTION(EListLineTooLong, Exception);

class ListFileReader {
 public:
  // Opens the file. Raises EInOutError: 3 "Invalid filename" for an empty
  // name or one with a NUL byte, 5 "File access denied" for a folder, and
  // the error of errno otherwise ("File not found", ...).
  // A max_line_length above 0 limits every line to that many bytes: a
  // longer one raises EListLineTooLong as soon as it passes the limit,
  // without reading the rest of it, so that memory stays bounded whatever
  // the file holds (/dev/zero has no line breaks).
  explicit ListFileReader(const std::string& path, size_t max_line_length = 0);
  ~ListFileReader();
  ListFileReader(const ListFileReader&) = delete;
  ListFileReader& operator=(const ListFileReader&) = delete;

  // True when no line is left: at the physical end, or at a Ctrl-Z where a
  // line begins. Raises EInOutError when the file cannot be read.
  bool Eof();
  // The next line without its break. Raises EInOutError 100 "Read beyond
  // end of file" when Eof() holds, EListLineTooLong "line N is longer than
  // M bytes" for a line past the limit.
  std::string ReadLine();

  // Where the line last read began, counted as a text editor counts lines
  // (LF, CR LF and a lone CR each start a new one), from 1.
  int64_t LineNumber() const { return line_number_; }
  const std::string& Path() const { return path_; }

  // Bytes read from the file with each read call.
  static constexpr size_t kBufferSize = 64 * 1024;

 private:
  // Refills the buffer when it is used up; false at the physical end.
  bool Fill();

  std::string path_;
  size_t max_line_length_;
  std::unique_ptr<TFileStream> file_;
  std::unique_ptr<uint8_t[]> buffer_;
  size_t begin_ = 0;  // next unread byte
  size_t end_ = 0;    // one past the last byte in the buffer
  bool at_end_ = false;
  int64_t line_number_ = 0;
  int64_t next_line_number_ = 1;
};

}  // namespace kevrale

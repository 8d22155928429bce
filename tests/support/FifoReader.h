// A FIFO made for one test and read to its end by a thread of its own, so
// that whatever the test writes into it (or makes the program write) can be
// compared afterwards.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <thread>

namespace kevrale::test {

class FifoReader {
 public:
  // Makes the FIFO at `path` and opens both ends before anything writes:
  // a writer of the test's own keeps the reading end from waiting for a
  // writer, so a save that never opens the FIFO cannot leave the reader
  // waiting, and Received() ends the reader's input by closing it.
  explicit FifoReader(const std::string& path) {
    if (::mkfifo(path.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed");
    keep_open_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    read_end_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (keep_open_ < 0 || read_end_ < 0) throw std::runtime_error("cannot open the FIFO");
    reader_ = std::thread([this] {
      char buffer[4096];
      for (ssize_t n; (n = ::read(read_end_, buffer, sizeof buffer)) > 0;)
        received_.append(buffer, size_t(n));
    });
  }
  ~FifoReader() { Received(); }
  FifoReader(const FifoReader&) = delete;
  FifoReader& operator=(const FifoReader&) = delete;

  // Everything written into the FIFO; call it once the writing is done.
  const std::string& Received() {
    if (keep_open_ >= 0) {
      ::close(keep_open_);
      keep_open_ = -1;
      reader_.join();
      ::close(read_end_);
      read_end_ = -1;
    }
    return received_;
  }

 private:
  int keep_open_ = -1;
  int read_end_ = -1;
  std::string received_;
  std::thread reader_;
};

}  // namespace kevrale::test

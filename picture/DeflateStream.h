// A zlib deflate stream, ended with its owner: the image data of the PNG
// writer and the strips of the TIFF writer.
#pragma once

#include <zlib.h>

#include <new>

namespace kevrale {

class DeflateStream {
 public:
  // zlib's level and strategy, and its default window and memory.
  DeflateStream(int level, int strategy) {
    if (deflateInit2(&z_, level, Z_DEFLATED, 15, 8, strategy) != Z_OK) throw std::bad_alloc();
  }
  ~DeflateStream() { deflateEnd(&z_); }
  DeflateStream(const DeflateStream&) = delete;
  DeflateStream& operator=(const DeflateStream&) = delete;

  z_stream* get() { return &z_; }
  z_stream* operator->() { return &z_; }

 private:
  z_stream z_{};
};

}  // namespace kevrale

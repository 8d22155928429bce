// A zlib stream written by zlib's deflate, ended with its owner: the image
// data of the PNG writer and the strips of the TIFF writer. zlib itself
// only compresses (raw deflate); the stream's header and its Adler-32
// checksum are added here, the checksum by libdeflate, several times as
// fast as zlib's, which took a sixth of a grey PNG's writing. The bytes
// are those zlib would write.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>

namespace kevrale {

class DeflateStream {
 public:
  // zlib's level and strategy, and its default window and memory.
  DeflateStream(int level, int strategy);
  ~DeflateStream();
  DeflateStream(const DeflateStream&) = delete;
  DeflateStream& operator=(const DeflateStream&) = delete;

  // The input and output places and room, as zlib's deflate takes them.
  z_stream* operator->() { return &z_; }

  // Runs zlib's deflate with `flush` and returns what it returns; the
  // stream's last bytes may need a further call with room for them, which
  // then returns Z_STREAM_END.
  int Deflate(int flush);
  // Starts a new stream with the same settings.
  void Reset();
  // The most bytes a whole stream of `size` bytes of input takes.
  size_t Bound(size_t size);

 private:
  // Moves the header or checksum bytes not yet given into the output.
  void GiveWrapper();

  z_stream z_{};
  uint8_t header_[2] = {};
  bool ended_ = false;  // the compressed data is complete
  uint32_t adler_ = 1;
  uint8_t wrapper_[4] = {};  // header or checksum bytes to give
  size_t wrapper_from_ = 0;
  size_t wrapper_to_ = 0;
};

}  // namespace kevrale

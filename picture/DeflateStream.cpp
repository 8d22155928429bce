#include "picture/DeflateStream.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/BigEndian.h"

namespace kevrale {

DeflateStream::DeflateStream(int level, int strategy) {
  // A negative window: raw deflate, without zlib's header and checksum.
  if (deflateInit2(&z_, level, Z_DEFLATED, -15, 8, strategy) != Z_OK) throw std::bad_alloc();
  // The header zlib writes: deflate with a window of 32 KiB, the level's
  // class as zlib counts it, and check bits that make the pair a multiple
  // of 31.
  const unsigned level_class = strategy >= Z_HUFFMAN_ONLY || level < 2        ? 0
                               : level < 6                                    ? 1
                               : level == 6 || level == Z_DEFAULT_COMPRESSION ? 2
                                                                              : 3;
  unsigned header = 0x78u << 8 | level_class << 6;
  header += 31 - header % 31;
  header_[0] = uint8_t(header >> 8);
  header_[1] = uint8_t(header);
  Reset();
}

DeflateStream::~DeflateStream() {
  deflateEnd(&z_);
}

void DeflateStream::Reset() {
  deflateReset(&z_);
  ended_ = false;
  adler_ = 1;
  std::memcpy(wrapper_, header_, sizeof header_);
  wrapper_from_ = 0;
  wrapper_to_ = sizeof header_;
}

size_t DeflateStream::Bound(size_t size) {
  return deflateBound(&z_, uLong(size)) + sizeof header_ + sizeof wrapper_;
}

void DeflateStream::GiveWrapper() {
  const size_t n = std::min<size_t>(wrapper_to_ - wrapper_from_, z_.avail_out);
  if (n == 0) return;
  std::memcpy(z_.next_out, wrapper_ + wrapper_from_, n);
  z_.next_out += n;
  z_.avail_out -= uInt(n);
  z_.total_out += n;
  wrapper_from_ += n;
}

int DeflateStream::Deflate(int flush) {
  // The header first; any of it left means no room for more.
  GiveWrapper();
  if (!ended_) {
    const Bytef* in = z_.next_in;
    const int result = deflate(&z_, flush);
    const size_t taken = size_t(z_.next_in - in);
    if (taken > 0) adler_ = libdeflate_adler32(adler_, in, taken);
    if (result != Z_STREAM_END) return result;
    ended_ = true;
    PutBig32(wrapper_, adler_);
    wrapper_from_ = 0;
    wrapper_to_ = sizeof wrapper_;
  }
  GiveWrapper();
  return wrapper_from_ < wrapper_to_ ? Z_OK : Z_STREAM_END;
}

}  // namespace kevrale

// The deflate stream against zlib's own zlib streams: the same bytes for
// the settings the writers use and for others, whether the output room is
// ample or a few bytes at a time (the header and the checksum then go out
// in pieces), and over several streams of one object.
#include "picture/DeflateStream.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <vector>

namespace kevrale {
namespace {

// Line art's runs with some noise, so that every strategy has work.
std::vector<uint8_t> Data(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> data(size);
  for (size_t i = 0; i < size; ++i)
    data[i] = (i / 97) % 3 == 0 ? uint8_t(random()) : uint8_t((i / 500) % 2 * 255);
  return data;
}

std::vector<uint8_t> ZlibStream(const std::vector<uint8_t>& data, int level, int strategy) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, 15, 8, strategy), Z_OK);
  std::vector<uint8_t> out(deflateBound(&z, uLong(data.size())));
  z.next_in = const_cast<Bytef*>(data.data());
  z.avail_in = uInt(data.size());
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(out.size() - z.avail_out);
  deflateEnd(&z);
  return out;
}

// Feeds the data in pieces of `piece` bytes and takes the output through
// a buffer of `room` bytes, as the PNG writer does.
std::vector<uint8_t> OurStream(DeflateStream& stream, const std::vector<uint8_t>& data,
                               size_t piece, size_t room) {
  std::vector<uint8_t> out, buffer(room);
  stream->next_out = buffer.data();
  stream->avail_out = uInt(room);
  for (size_t at = 0;; at += piece) {
    const bool last = at + piece >= data.size();
    stream->next_in = const_cast<Bytef*>(data.data() + std::min(at, data.size()));
    stream->avail_in = uInt(std::min(piece, data.size() - std::min(at, data.size())));
    for (int calls = 0;; ++calls) {
      const int result = stream.Deflate(last ? Z_FINISH : Z_NO_FLUSH);
      EXPECT_NE(result, Z_STREAM_ERROR);
      if (stream->avail_out == 0) {
        out.insert(out.end(), buffer.begin(), buffer.end());
        stream->next_out = buffer.data();
        stream->avail_out = uInt(room);
        if (calls > 1000000) return out;
        continue;
      }
      if (last && result != Z_STREAM_END) {
        ADD_FAILURE() << "room left, yet the stream did not end";
        return out;
      }
      break;
    }
    if (last) break;
  }
  out.insert(out.end(), buffer.begin(), buffer.end() - stream->avail_out);
  return out;
}

TEST(DeflateStream, WritesWhatZlibWritesWithAnyRoom) {
  const std::vector<uint8_t> data = Data(300000, 1);
  for (const auto& [level, strategy] :
       {std::pair{1, Z_RLE}, std::pair{1, Z_DEFAULT_STRATEGY}, std::pair{6, Z_DEFAULT_STRATEGY},
        std::pair{9, Z_FILTERED}, std::pair{3, Z_HUFFMAN_ONLY}}) {
    const std::vector<uint8_t> expected = ZlibStream(data, level, strategy);
    for (const size_t room : {size_t(1), size_t(3), size_t(5), size_t(1) << 17}) {
      DeflateStream stream(level, strategy);
      EXPECT_EQ(OurStream(stream, data, 4097, room), expected)
          << "level " << level << ", strategy " << strategy << ", room " << room;
    }
  }
}

TEST(DeflateStream, StartsOverAfterReset) {
  DeflateStream stream(1, Z_RLE);
  for (unsigned seed : {2u, 3u, 4u}) {
    const std::vector<uint8_t> data = Data(70000 + seed * 1000, seed);
    stream.Reset();
    std::vector<uint8_t> out(stream.Bound(data.size()));
    stream->next_in = const_cast<Bytef*>(data.data());
    stream->avail_in = uInt(data.size());
    stream->next_out = out.data();
    stream->avail_out = uInt(out.size());
    // The bound holds the whole stream: one call ends it.
    ASSERT_EQ(stream.Deflate(Z_FINISH), Z_STREAM_END);
    out.resize(out.size() - stream->avail_out);
    EXPECT_EQ(out, ZlibStream(data, 1, Z_RLE));
  }
  // An empty stream too.
  stream.Reset();
  std::vector<uint8_t> out(stream.Bound(0));
  stream->next_in = nullptr;
  stream->avail_in = 0;
  stream->next_out = out.data();
  stream->avail_out = uInt(out.size());
  ASSERT_EQ(stream.Deflate(Z_FINISH), Z_STREAM_END);
  out.resize(out.size() - stream->avail_out);
  EXPECT_EQ(out, ZlibStream({}, 1, Z_RLE));
}

}  // namespace
}  // namespace kevrale

// Headers that promise absurd sizes: the plug-ins report the size but
// refuse to decode (out of memory) before anything of that size is
// allocated, and without reading pixel data that is not there.
#include <gtest/gtest.h>

#include <cstring>

#include "SpiTestSupport.h"

namespace kevrale::spitest {
namespace {

void Put32Be(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift : {24, 16, 8, 0}) out.push_back(uint8_t(v >> shift));
}

void Put16Le(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}

void Put32Le(std::vector<uint8_t>& out, uint32_t v) {
  Put16Le(out, v);
  Put16Le(out, v >> 16);
}

uint32_t Crc32(const uint8_t* p, size_t n) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

void PngChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
  Put32Be(out, uint32_t(data.size()));
  const size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  Put32Be(out, Crc32(out.data() + start, out.size() - start));
}

std::vector<uint8_t> HugePng() {
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> ihdr;
  Put32Be(ihdr, 100000);
  Put32Be(ihdr, 100000);
  ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});  // RGB, 8 bits
  PngChunk(png, "IHDR", ihdr);
  PngChunk(png, "IDAT", {0x78, 0x9C, 0x63, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01});
  PngChunk(png, "IEND", {});
  return png;
}

std::vector<uint8_t> HugeGif() {
  // A 30000 x 30000 screen with a 1 x 1 frame and its own two colours.
  std::vector<uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a'};
  Put16Le(gif, 30000);
  Put16Le(gif, 30000);
  gif.insert(gif.end(), {0x00, 0, 0});  // no global table
  gif.push_back(0x2C);
  for (int i = 0; i < 4; ++i) Put16Le(gif, i < 2 ? 0 : 1);
  gif.push_back(0x80);  // a local table of 2 colours
  gif.insert(gif.end(), {0, 0, 0, 255, 255, 255});
  gif.insert(gif.end(), {0x02, 0x02, 0x44, 0x01, 0x00, 0x3B});
  return gif;
}

std::vector<uint8_t> HugeJpeg() {
  // The sample with its frame header made 60000 x 60000.
  std::vector<uint8_t> jpeg = Sample("jpeg");
  for (size_t i = 2; i + 8 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
      jpeg[i + 5] = 60000 >> 8;
      jpeg[i + 6] = 60000 & 0xFF;
      jpeg[i + 7] = 60000 >> 8;
      jpeg[i + 8] = 60000 & 0xFF;
      return jpeg;
    }
  ADD_FAILURE() << "no frame header in the sample";
  return jpeg;
}

std::vector<uint8_t> HugeTiff() {
  // One strip of a 2^20 x 2^20 grey page; the strip holds 16 bytes.
  std::vector<uint8_t> tiff = {'I', 'I', 42, 0};
  Put32Le(tiff, 8);
  const uint32_t entries[][3] = {
      {256, 4, 1u << 20}, {257, 4, 1u << 20}, {258, 3, 8},
      {259, 3, 1},        {262, 3, 1},        {273, 4, 8 + 2 + 9 * 12 + 4},
      {277, 3, 1},        {278, 4, 1u << 20}, {279, 4, 16}};
  Put16Le(tiff, 9);
  for (const auto& e : entries) {
    Put16Le(tiff, e[0]);
    Put16Le(tiff, e[1]);
    Put32Le(tiff, 1);
    if (e[1] == 3) {
      Put16Le(tiff, e[2]);
      Put16Le(tiff, 0);
    } else {
      Put32Le(tiff, e[2]);
    }
  }
  Put32Le(tiff, 0);
  tiff.resize(tiff.size() + 16, 0x80);
  return tiff;
}

struct HugeCase {
  const char* format;
  std::vector<uint8_t> (*bytes)();
  int32_t width;
};

class LimitsTest : public ::testing::TestWithParam<HugeCase> {};

TEST_P(LimitsTest, RefusesAbsurdSizesBeforeAllocating) {
  const HugeCase& c = GetParam();
  Plugin plugin(c.format);
  ASSERT_TRUE(plugin.Loaded());
  const std::vector<uint8_t> bytes = c.bytes();
  ASSERT_TRUE(plugin.Supports(bytes));

  SpiPictureInfo info;
  ASSERT_EQ(plugin.PictureInfo(reinterpret_cast<const char*>(bytes.data()), intptr_t(bytes.size()),
                               SPI_INPUT_MEMORY, &info),
            SPI_SUCCESS);
  EXPECT_EQ(info.width, c.width);
  EXPECT_EQ(DecodeMemory(plugin, bytes).result, SPI_OUT_OF_MEMORY);
}

INSTANTIATE_TEST_SUITE_P(Formats, LimitsTest,
                         ::testing::Values(HugeCase{"png", HugePng, 100000},
                                           HugeCase{"gif", HugeGif, 30000},
                                           HugeCase{"jpeg", HugeJpeg, 60000},
                                           HugeCase{"tiff", HugeTiff, 1 << 20}),
                         [](const auto& info) { return std::string(info.param.format); });

}  // namespace
}  // namespace kevrale::spitest

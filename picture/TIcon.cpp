#include "picture/TIcon.h"

#include <cstring>

#include "picture/DibRowDecoder.h"
#include "platform/Exception.h"
#include "platform/LittleEndian.h"
#include "platform/Stream.h"

namespace kevrale {

const TGraphicClassInfo TIcon::Class("TIcon", &TGraphic::Class, &MakeInstance<TIcon, TGraphic>);

namespace {

constexpr size_t kMaxIconFile = size_t(64) << 20;
constexpr int kMaxIconSide = 1024;

[[noreturn]] void Invalid() {
  throw EInvalidGraphic("アイコンイメージが不正です");
}

// Decodes one DIB-coded icon image: a BITMAPINFOHEADER whose height counts
// the colour rows and the 1-bit AND mask rows together.
ArgbImage DecodeDib(const uint8_t* data, size_t size) {
  if (size < 40 || Get32(data) != 40) Invalid();
  const int32_t width = int32_t(Get32(data + 4));
  const int32_t double_height = int32_t(Get32(data + 8));
  const uint16_t bit_count = Get16(data + 14);
  const uint32_t compression = Get32(data + 16);
  uint32_t colours = Get32(data + 32);
  if (width <= 0 || width > kMaxIconSide || double_height <= 0 ||
      double_height > 2 * kMaxIconSide || double_height % 2 != 0 || compression != 0)
    Invalid();
  if (bit_count != 1 && bit_count != 4 && bit_count != 8 && bit_count != 24 && bit_count != 32)
    Invalid();
  const int height = double_height / 2;
  if (bit_count <= 8) {
    if (colours == 0) colours = 1u << bit_count;
    if (colours > (1u << bit_count)) Invalid();
  } else {
    colours = 0;
  }
  const size_t palette_at = 40;
  const size_t xor_at = palette_at + size_t(colours) * 4;
  const size_t xor_stride = ((size_t(width) * bit_count + 31) / 32) * 4;
  const size_t and_stride = ((size_t(width) + 31) / 32) * 4;
  const size_t and_at = xor_at + xor_stride * size_t(height);
  const bool has_mask = and_at + and_stride * size_t(height) <= size;
  if (and_at > size) Invalid();

  std::vector<uint32_t> palette(colours);
  for (size_t i = 0; i < palette.size(); ++i) {
    const uint8_t* q = data + palette_at + i * 4;
    palette[i] = uint32_t(q[2]) << 16 | uint32_t(q[1]) << 8 | q[0];
  }
  // A 32-bit icon keeps its fourth byte as alpha.
  DibMasks masks = DibRowDecoder::DefaultMasks(bit_count);
  if (bit_count == 32) masks[3] = 0xFF000000;
  const DibRowDecoder decoder(bit_count, palette, masks, 4);

  ArgbImage image;
  image.width = width;
  image.height = height;
  image.pixels.resize(size_t(width) * size_t(height));
  std::vector<uint8_t> row(size_t(width) * 4);
  bool any_alpha = false;
  for (int y = 0; y < height; ++y) {
    const uint8_t* src = data + xor_at + xor_stride * size_t(height - 1 - y);
    if (!decoder.Decode(src, size_t(width), row.data())) Invalid();
    for (int x = 0; x < width; ++x) {
      const uint32_t argb = Get32(row.data() + 4 * size_t(x));
      if (bit_count == 32 && (argb >> 24) != 0) any_alpha = true;
      image.At(x, y) = argb;
    }
  }
  // Without an alpha channel of its own, the AND mask says which pixels
  // are transparent.
  if (bit_count == 32 && !any_alpha)
    for (uint32_t& px : image.pixels) px |= 0xFF000000u;
  if (has_mask && !(bit_count == 32 && any_alpha)) {
    for (int y = 0; y < height; ++y) {
      const uint8_t* mask = data + and_at + and_stride * size_t(height - 1 - y);
      for (int x = 0; x < width; ++x)
        if (mask[x / 8] & (0x80 >> (x % 8))) image.At(x, y) &= 0x00FFFFFFu;
    }
  }
  return image;
}

}  // namespace

void TIcon::LoadFromStream(TStream& stream) {
  const int64_t left = stream.Size() - stream.Position();
  if (left < 6 || left > int64_t(kMaxIconFile)) Invalid();
  std::vector<uint8_t> file(static_cast<size_t>(left));
  stream.ReadBuffer(file.data(), file.size());
  const uint8_t* d = file.data();
  if (Get16(d) != 0 || Get16(d + 2) != 1) Invalid();
  const size_t count = Get16(d + 4);
  if (count == 0 || 6 + count * 16 > file.size()) Invalid();

  // The entry with the most pixels, then the most bits per pixel.
  size_t best = count;
  uint64_t best_score = 0;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* e = d + 6 + i * 16;
    const uint32_t size = Get32(e + 8);
    const uint32_t offset = Get32(e + 12);
    if (offset > file.size() || size > file.size() - offset || size < 40) continue;
    if (Get32(d + offset) != 40) continue;  // PNG-coded images are not shown
    const uint64_t w = Get32(d + offset + 4);
    const uint64_t h = Get32(d + offset + 8) / 2;
    // An entry of impossible size must not win over a good one.
    if (w == 0 || w > kMaxIconSide || h == 0 || h > kMaxIconSide) continue;
    const uint64_t score = (w * h) << 8 | Get16(d + offset + 14);
    if (best == count || score > best_score) {
      best = i;
      best_score = score;
    }
  }
  if (best == count) Invalid();
  const uint8_t* e = d + 6 + best * 16;
  ArgbImage image = DecodeDib(d + Get32(e + 12), Get32(e + 8));
  file_ = std::move(file);
  image_ = std::move(image);
}

void TIcon::SaveToStream(TStream& stream) const {
  if (!file_.empty()) stream.WriteBuffer(file_.data(), file_.size());
}

}  // namespace kevrale

#include "picture/RasterLayout.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "picture/RowConversions.h"
#include "picture/TBitmap.h"

namespace kevrale {

namespace {

bool Opaque(uint32_t colour) {
  return colour >> 24 == 0xFF;
}

bool Grey(uint32_t colour) {
  const uint32_t b = colour & 0xFF;
  return Opaque(colour) && (colour >> 8 & 0xFF) == b && (colour >> 16 & 0xFF) == b;
}

// The fewest bits of grey whose levels include `level`: 0 and 255 are on
// the one-bit scale, multiples of 85 on the 2-bit one, of 17 on the 4-bit.
int GreyBitsOf(uint32_t level) {
  if (level == 0 || level == 255) return 1;
  if (level % 85 == 0) return 2;
  if (level % 17 == 0) return 4;
  return 8;
}

// The fewest bits a palette of `count` entries needs.
int PaletteBitsOf(size_t count) {
  if (count <= 2) return 1;
  if (count <= 4) return 2;
  if (count <= 16) return 4;
  return 8;
}

}  // namespace

std::array<uint32_t, 256> CodeColours(const std::vector<uint32_t>& colours, uint32_t missing) {
  std::array<uint32_t, 256> table;
  table.fill(missing);
  std::copy_n(colours.begin(), std::min<size_t>(colours.size(), table.size()), table.begin());
  return table;
}

void PutCodedColours(const uint8_t* codes, int width, const std::array<uint32_t, 256>& table,
                     uint8_t* out, int out_bytes) {
  if (width <= 0) return;
  if (out_bytes == 4) {
    for (int x = 0; x < width; ++x, out += 4) Put32(out, table[codes[x]]);
    return;
  }
  // Each pixel but the last as 4 bytes, the fourth overwritten by the next.
  int x = 0;
  for (; x + 1 < width; ++x, out += 3) Put32(out, table[codes[x]]);
  const uint32_t c = table[codes[x]];
  out[0] = uint8_t(c);
  out[1] = uint8_t(c >> 8);
  out[2] = uint8_t(c >> 16);
}

int ColourTable::Find(uint32_t colour) const {
  for (size_t slot = SlotOf(colour);; slot = (slot + 1) & (kSlots - 1)) {
    if (codes_[slot] < 0) return -1;
    if (keys_[slot] == colour) return codes_[slot];
  }
}

void ColourTable::Add(uint32_t colour) {
  if (has_last_ && colour == last_) return;
  size_t slot = SlotOf(colour);
  for (; codes_[slot] >= 0; slot = (slot + 1) & (kSlots - 1))
    if (keys_[slot] == colour) {
      last_ = colour;
      has_last_ = true;
      return;
    }
  if (colours_.size() == kMostColours) {
    overflowed_ = true;
    return;
  }
  keys_[slot] = colour;
  codes_[slot] = int16_t(colours_.size());
  colours_.push_back(colour);
  last_ = colour;
  has_last_ = true;
}

namespace {

// Calls add(colour) for the first pixel of each run of one colour, while
// keep_going() holds; runs are skipped sixteen pixels at a time.
template <int kBytes, typename Add, typename KeepGoing>
void ForEachRun(const uint8_t* row, int count, Add add, KeepGoing keep_going) {
  for (int x = 0; x < count;) {
    const uint8_t* first = row + size_t(x) * kBytes;
    add(ColourAt(first, kBytes));
    if (!keep_going()) return;
    x = RunEnd<kBytes>(row, x, count);
  }
}

}  // namespace

void ColourTable::AddRow(const uint8_t* row, int count, int bytes_per_pixel) {
  const auto add = [this](uint32_t c) { Add(c); };
  const auto keep_going = [this] { return !overflowed_; };
  if (bytes_per_pixel == 4)
    ForEachRun<4>(row, count, add, keep_going);
  else
    ForEachRun<3>(row, count, add, keep_going);
}

RasterLayout ChooseLayout(const ColourTable& table, bool alpha, TImageFileFormat format) {
  RasterLayout layout;
  if (table.Overflowed()) {
    layout.kind = alpha ? RasterKind::Rgba : RasterKind::Rgb;
    return layout;
  }
  std::vector<uint32_t> colours = table.Colours();
  if (!alpha)
    for (uint32_t& c : colours) c |= 0xFF000000u;
  std::sort(colours.begin(), colours.end());
  colours.erase(std::unique(colours.begin(), colours.end()), colours.end());

  const int palette_bits = PaletteBitsOf(colours.size());
  if (std::all_of(colours.begin(), colours.end(), Grey)) {
    int grey_bits = 1;
    for (uint32_t c : colours) grey_bits = std::max(grey_bits, GreyBitsOf(c & 0xFF));
    if (grey_bits <= palette_bits) {
      layout.kind = RasterKind::Grey;
      layout.bits = grey_bits;
      layout.colours = std::move(colours);
      return layout;
    }
  }
  const bool transparent = !std::all_of(colours.begin(), colours.end(), Opaque);
  if (transparent && format == TImageFileFormat::Tiff) {
    layout.kind = RasterKind::Rgba;
    return layout;
  }
  // Entries with alpha first: a PNG lists alpha only up to the last of them.
  std::stable_partition(colours.begin(), colours.end(), [](uint32_t c) { return !Opaque(c); });
  layout.kind = RasterKind::Palette;
  layout.bits = palette_bits;
  layout.colours = std::move(colours);
  return layout;
}

RasterLayout LayoutOf(const TBitmap& bitmap, TImageFileFormat format) {
  ColourTable table;
  for (int y = 0; y < bitmap.Height() && !table.Overflowed(); ++y)
    table.AddRow(bitmap.ScanLine(y), bitmap.Width(), bitmap.BytesPerPixel());
  return ChooseLayout(table, bitmap.HasAlpha(), format);
}

RowPacker::RowPacker(const RasterLayout& layout)
    : bits_(layout.bits), grey_(layout.kind == RasterKind::Grey) {
  if (layout.kind != RasterKind::Grey && layout.kind != RasterKind::Palette)
    throw std::logic_error("RowPacker: a layout without samples to pack");
  for (uint32_t c : layout.colours) table_.Add(c);
  for (size_t i = 0; i < layout.colours.size(); ++i)
    codes_.push_back(layout.kind == RasterKind::Grey
                         ? uint8_t((layout.colours[i] & 0xFF) >> (8 - bits_))
                         : uint8_t(i));
}

namespace {

// Packs `width` pixels of `kBytes` bytes into samples of `bits`, each
// found through `sample_of` where the colour changes.
// Writes the sample of each of `width` pixels of kBytes, a byte each, the
// sample found through `sample_of` once a run of one colour.
template <int kBytes, typename SampleOf>
void SamplesOf(const uint8_t* row, int width, uint8_t* samples, SampleOf sample_of) {
  for (int x = 0; x < width;) {
    const uint8_t* first = row + size_t(x) * kBytes;
    const int end = RunEnd<kBytes>(row, x, width);
    std::memset(samples + x, int(sample_of(ColourAt(first, kBytes))), size_t(end - x));
    x = end;
  }
}

// Packs `count` samples of kBits each into bytes, high bits first; the last
// byte padded with zero bits.
template <int kBits>
void PackSamples(const uint8_t* samples, int count, uint8_t* out) {
  constexpr int kPerByte = 8 / kBits;
  int x = 0;
  for (; x + kPerByte <= count; x += kPerByte) {
    unsigned byte = 0;
    for (int i = 0; i < kPerByte; ++i) byte = byte << kBits | samples[x + i];
    *out++ = uint8_t(byte);
  }
  if (x < count) {
    unsigned byte = 0;
    int filled = 0;
    for (; x < count; ++x, filled += kBits) byte = byte << kBits | samples[x];
    *out = uint8_t(byte << (8 - filled));
  }
}

// Writes the codes of `count` samples of kBits packed in `in`, a byte each.
template <int kBits>
void UnpackSamples(const uint8_t* in, int count, uint8_t* codes) {
  constexpr int kPerByte = 8 / kBits;
  constexpr unsigned kMask = (1u << kBits) - 1;
  int x = 0;
  for (; x + kPerByte <= count; x += kPerByte) {
    const unsigned byte = *in++;
    for (int i = 0; i < kPerByte; ++i)
      codes[x + i] = uint8_t(byte >> (8 - kBits * (i + 1)) & kMask);
  }
  for (int i = 0; x < count; ++x, ++i) codes[x] = uint8_t(*in >> (8 - kBits * (i + 1)) & kMask);
}

template <int kBytes, typename SampleOf>
void PackRow(const uint8_t* row, int width, int bits, uint8_t* out, SampleOf sample_of) {
  if (bits == 8) {
    SamplesOf<kBytes>(row, width, out, sample_of);
    return;
  }
  // A piece at a time, a multiple of 8 pixels, so that each starts a byte.
  constexpr int kPiece = 1024;
  uint8_t samples[kPiece];
  for (int x0 = 0; x0 < width; x0 += kPiece) {
    const int count = std::min(kPiece, width - x0);
    SamplesOf<kBytes>(row + size_t(x0) * kBytes, count, samples, sample_of);
    PackCodes(samples, count, bits, out + size_t(x0) * size_t(bits) / 8);
  }
}

}  // namespace

void PackCodes(const uint8_t* codes, int count, int bits, uint8_t* out) {
  if (count <= 0) return;
  if (bits == 1)
    PackSamples<1>(codes, count, out);
  else if (bits == 2)
    PackSamples<2>(codes, count, out);
  else if (bits == 4)
    PackSamples<4>(codes, count, out);
  else
    std::memcpy(out, codes, size_t(count));
}

void UnpackCodes(const uint8_t* packed, int count, int bits, uint8_t* codes) {
  if (count <= 0) return;
  if (bits == 1)
    UnpackSamples<1>(packed, count, codes);
  else if (bits == 2)
    UnpackSamples<2>(packed, count, codes);
  else if (bits == 4)
    UnpackSamples<4>(packed, count, codes);
  else
    std::memcpy(codes, packed, size_t(count));
}

void RowPacker::PackGrey(const uint8_t* row, int width, int bytes_per_pixel, uint8_t* out) const {
  const auto refuse = [] { throw std::logic_error("RowPacker: a colour outside the file's grey"); };
  if (bits_ == 8) {
    if (!TakeGreyLevels(row, width, bytes_per_pixel, out)) refuse();
    return;
  }
  // A piece at a time, a multiple of 8 pixels, so that each starts a byte.
  constexpr int kPiece = 1024;
  uint8_t levels[kPiece];
  const int shift = 8 - bits_;
  const unsigned step = 255u / ((1u << bits_) - 1);  // between the levels the bits hold
  for (int x0 = 0; x0 < width; x0 += kPiece) {
    const int count = std::min(kPiece, width - x0);
    if (!TakeGreyLevels(row + size_t(x0) * size_t(bytes_per_pixel), count, bytes_per_pixel, levels))
      refuse();
    unsigned between = 0;
    for (int i = 0; i < count; ++i) {
      const unsigned code = levels[i] >> shift;
      between |= levels[i] ^ code * step;
      levels[i] = uint8_t(code);
    }
    if (between != 0) refuse();
    PackCodes(levels, count, bits_, out + size_t(x0) * size_t(bits_) / 8);
  }
}

void RowPacker::Pack(const uint8_t* row, int width, int bytes_per_pixel, uint8_t* out) const {
  if (width <= 0) return;
  if (grey_) {
    PackGrey(row, width, bytes_per_pixel, out);
    return;
  }
  const auto sample_of = [this](uint32_t colour) -> unsigned {
    const int code = table_.Find(colour);
    if (code < 0) throw std::logic_error("RowPacker: a colour outside the file's colours");
    return codes_[size_t(code)];
  };
  if (bytes_per_pixel == 4)
    PackRow<4>(row, width, bits_, out, sample_of);
  else
    PackRow<3>(row, width, bits_, out, sample_of);
}

}  // namespace kevrale

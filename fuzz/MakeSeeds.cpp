// Writes the seed corpora of the fuzz targets: small BMP files of every
// header kind, bit count and compression, stored bottom-up and top-down,
// and a few icon files.
//
//   kevrale_fuzz_seeds BMP_FOLDER ICON_FOLDER
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BmpBuilder.h"

namespace {

using kevrale::test::BmpSpec;
using kevrale::test::BuildBmp;
using kevrale::test::PackRows;

constexpr int kWidth = 7;
constexpr int kHeight = 5;

std::filesystem::path g_bmp_dir;
int g_count = 0;

void Save(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::exit(1);
  }
  ++g_count;
}

std::vector<uint32_t> Palette(int bits) {
  std::vector<uint32_t> p;
  const int n = bits >= 8 ? 16 : 1 << bits;  // 8-bit seeds use a short table
  for (int i = 0; i < n; ++i) p.push_back(uint32_t(i * 0x0F1E2D) & 0xFFFFFF);
  return p;
}

uint32_t Pattern(int x, int y) {
  return uint32_t(x * 37 + y * 91) ^ uint32_t(x * y * 0x01030507);
}

std::string HeaderName(uint32_t size) {
  switch (size) {
    case 12:
      return "core12";
    case 16:
      return "os2v2-16";
    case 64:
      return "os2v2-64";
    case 40:
      return "info40";
    case 52:
      return "v2-52";
    case 56:
      return "v3-56";
    case 108:
      return "v4-108";
    default:
      return "v5-124";
  }
}

void Uncompressed(uint32_t header, int bits, bool top_down) {
  BmpSpec s;
  s.header_size = header;
  s.width = kWidth;
  s.height = top_down ? -kHeight : kHeight;
  s.bit_count = uint16_t(bits);
  if (bits <= 8) {
    s.palette = Palette(bits);
    if (header != 12) s.colours_used = uint32_t(s.palette.size());
  }
  const uint32_t limit = bits <= 8 ? uint32_t(Palette(bits).size()) : 0;
  s.pixels = PackRows(kWidth, kHeight, bits, top_down, [&](int x, int y) {
    const uint32_t v = Pattern(x, y);
    return limit ? v % limit : v;
  });
  Save(g_bmp_dir / (HeaderName(header) + "-rgb" + std::to_string(bits) +
                    (top_down ? "-topdown" : "") + ".bmp"),
       BuildBmp(s));
}

void Bitfields(uint32_t header, int bits, uint32_t compression, std::vector<uint32_t> masks,
               const std::string& name, bool top_down) {
  BmpSpec s;
  s.header_size = header;
  s.width = kWidth;
  s.height = top_down ? -kHeight : kHeight;
  s.bit_count = uint16_t(bits);
  s.compression = compression;
  s.masks = std::move(masks);
  s.pixels = PackRows(kWidth, kHeight, bits, top_down, Pattern);
  Save(g_bmp_dir / (HeaderName(header) + "-" + name + (top_down ? "-topdown" : "") + ".bmp"),
       BuildBmp(s));
}

// RLE data that uses every code: encoded runs, literal runs (odd and even
// lengths, so padding shows), a skip, end of line and an early end of
// bitmap. `pixel` writes one pixel value (an index or three colour bytes).
std::vector<uint8_t> RleData(int kind) {
  std::vector<uint8_t> d;
  auto value = [&](int i) {
    if (kind == 24) {
      d.push_back(uint8_t(i * 40));
      d.push_back(uint8_t(i * 70));
      d.push_back(uint8_t(i * 90));
    } else if (kind == 8) {
      d.push_back(uint8_t(i % 16));
    }
  };
  auto run = [&](int n, int i) {
    d.push_back(uint8_t(n));
    if (kind == 4)
      d.push_back(uint8_t((i % 16) << 4 | ((i + 1) % 16)));
    else
      value(i);
  };
  auto literal = [&](int n) {
    d.push_back(0);
    d.push_back(uint8_t(n));
    size_t bytes = 0;
    if (kind == 4) {
      for (int i = 0; i < n; i += 2) d.push_back(uint8_t((i % 16) << 4 | ((i + 3) % 16)));
      bytes = size_t(n + 1) / 2;
    } else {
      for (int i = 0; i < n; ++i) value(i + 2);
      bytes = size_t(n) * (kind == 24 ? 3 : 1);
    }
    if (bytes & 1) d.push_back(0);
  };
  auto eol = [&] { d.insert(d.end(), {0, 0}); };
  run(3, 1);
  literal(4);
  eol();
  d.insert(d.end(), {0, 2, 2, 0});  // skip 2 right
  run(5, 2);
  eol();
  d.insert(d.end(), {0, 2, 1, 1});  // skip 1 right, 1 up
  literal(3);
  run(3, 5);
  eol();
  literal(5);
  d.insert(d.end(), {0, 1});  // end of bitmap
  return d;
}

void Rle(uint32_t header, int kind) {
  BmpSpec s;
  s.header_size = header;
  s.width = kWidth;
  s.height = kHeight;
  s.bit_count = uint16_t(kind);
  s.compression = kind == 8 ? 1 : kind == 4 ? 2 : 4;
  if (kind != 24) {
    s.palette = Palette(kind);
    s.colours_used = uint32_t(s.palette.size());
  }
  s.pixels = RleData(kind);
  Save(g_bmp_dir / (HeaderName(header) + "-rle" + std::to_string(kind) + ".bmp"), BuildBmp(s));
}

void Icons(const std::filesystem::path& dir) {
  using kevrale::test::BuildIco;
  using kevrale::test::BuildIconDib;
  using kevrale::test::IconImage;
  auto hole = [](int x, int y) { return (x + y) % 3 == 0; };
  IconImage i8{4, 4, 8,
               BuildIconDib(
                   4, 4, 8, Palette(8), [](int x, int y) { return uint32_t(x + y); }, hole)};
  IconImage i4{3, 2, 4,
               BuildIconDib(
                   3, 2, 4, Palette(4), [](int x, int y) { return uint32_t(x * 2 + y); }, hole)};
  IconImage i32{
      2, 2, 32,
      BuildIconDib(
          2, 2, 32, {}, [](int x, int y) { return 0x80000000u | uint32_t(x * 99 + y); }, hole)};
  IconImage i24{3, 3, 24, BuildIconDib(3, 3, 24, {}, Pattern, hole)};
  Save(dir / "ico-8bit.ico", BuildIco({i8}));
  Save(dir / "ico-4bit-32bit.ico", BuildIco({i4, i32}));
  Save(dir / "ico-24bit-8bit.ico", BuildIco({i24, i8}));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s BMP_FOLDER ICON_FOLDER\n", argv[0]);
    return 2;
  }
  g_bmp_dir = argv[1];
  std::filesystem::create_directories(g_bmp_dir);
  std::filesystem::create_directories(argv[2]);

  for (uint32_t header : {12u, 16u, 40u, 52u, 56u, 64u, 108u, 124u}) {
    const bool os2 = header == 12 || header == 16 || header == 64;
    for (int bits : {1, 2, 4, 8, 16, 24, 32}) {
      if (header == 12 && (bits == 2 || bits == 16 || bits == 32)) continue;
      Uncompressed(header, bits, false);
      if (header != 12) Uncompressed(header, bits, true);
    }
    if (header == 12 || header == 16) continue;
    Rle(header, 8);
    Rle(header, 4);
    if (os2) {
      Rle(header, 24);
      continue;
    }
    for (bool top_down : {false, true}) {
      Bitfields(header, 16, 3, {0xF800, 0x07E0, 0x001F}, "bf16-565", top_down);
      Bitfields(header, 16, 3, {0x0F00, 0x00F0, 0x000F, 0xF000}, "bf16-4444", top_down);
      Bitfields(header, 32, 3, {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000}, "bf32-argb",
                top_down);
      Bitfields(header, 32, 3, {0x3FF00000, 0x000FFC00, 0x000003FF, 0xC0000000}, "bf32-1010102",
                top_down);
      Bitfields(header, 32, 3, {0x000000FF, 0x0000FF00, 0x00FF0000}, "bf32-xbgr", top_down);
    }
    if (header == 40) {
      Bitfields(header, 32, 6, {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000}, "abf32", false);
      Bitfields(header, 16, 6, {0x7C00, 0x03E0, 0x001F, 0x8000}, "abf16", false);
    }
  }
  const int bmp_count = g_count;
  Icons(argv[2]);
  std::printf("wrote %d BMP seeds and %d icon seeds\n", bmp_count, g_count - bmp_count);
  return 0;
}

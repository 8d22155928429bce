// Writes the seed corpus of the DIB fuzz target: the inputs of its plug-in
// for a valid DIB of every bit count, top-down and bottom-up, with full and
// short colour tables. The fuzzer mutates them into lying ones.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

void Put16(std::vector<uint8_t>& v, uint16_t x) {
  v.push_back(uint8_t(x));
  v.push_back(uint8_t(x >> 8));
}
void Put32(std::vector<uint8_t>& v, uint32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(uint8_t(x >> (8 * i)));
}

std::vector<uint8_t> Seed(uint8_t flags, int32_t width, int32_t height, uint16_t bits,
                          uint32_t colours_used) {
  std::vector<uint8_t> info;
  Put32(info, 40);
  Put32(info, uint32_t(width));
  Put32(info, uint32_t(height));
  Put16(info, 1);
  Put16(info, bits);
  Put32(info, 0);  // BI_RGB
  Put32(info, 0);
  Put32(info, 2835);
  Put32(info, 2835);
  Put32(info, colours_used);
  Put32(info, 0);
  const uint32_t entries = colours_used != 0 ? colours_used : bits <= 8 ? 1u << bits : 0u;
  for (uint32_t i = 0; i < entries; ++i) Put32(info, 0x00102030u * (i + 1) & 0x00FFFFFFu);

  std::vector<uint8_t> seed{flags};
  Put16(seed, uint16_t(info.size()));
  seed.insert(seed.end(), info.begin(), info.end());
  const uint32_t rows = uint32_t(height < 0 ? -height : height);
  const uint32_t stride = (uint32_t(width) * bits + 31) / 32 * 4;
  for (uint32_t i = 0; i < stride * rows; ++i)
    seed.push_back(entries != 0 ? uint8_t(i % entries) : uint8_t(i * 37));
  return seed;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  std::filesystem::create_directories(folder);
  int n = 0;
  const auto write = [&](const std::vector<uint8_t>& seed) {
    std::ofstream out(folder / ("seed-" + std::to_string(n++)), std::ios::binary);
    out.write(reinterpret_cast<const char*>(seed.data()), std::streamsize(seed.size()));
  };
  for (uint16_t bits : {1, 4, 8, 16, 24, 32}) {
    write(Seed(0, 5, 3, bits, 0));
    write(Seed(3, 7, -2, bits, 0));
  }
  write(Seed(1, 6, 4, 8, 2));  // a short table
  write(Seed(2, 9, 2, 4, 3));
  write(Seed(0, 3, 3, 24, 4));  // an optional table
  return 0;
}

// Decoding a 4096 x 4096 PNG and JPEG: the codec alone into a plain buffer,
// the bundled plug-in through GetPicture on memory input into its DIB, and
// the whole host path (the picture opens the file: plug-in, in-memory BMP,
// bitmap). Meant for a Release build. Run one format at a time
// (--benchmark_filter=png, then jpeg) for figures that compare: a run
// after the other format's leaves the kernel fewer free huge pages.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "CodecDecode.h"
#include "kevrale/spi.h"
#include "picture/TPicture.h"
#include "platform/DynamicLibrary.h"
#include "plugins/SPIBitmapRegistration.h"
#include "plugins/TSPIs.h"

namespace {

constexpr int kSide = 4096;

struct Files {
  std::vector<uint8_t> png, jpeg;
  std::string folder;
};

const Files& TestFiles() {
  static const Files files = [] {
    Files f;
    std::unique_ptr<uint8_t, decltype(&std::free)> rgb(BenchPicture(kSide, kSide), &std::free);
    size_t size = 0;
    if (uint8_t* png = BenchEncodePng(rgb.get(), kSide, kSide, &size)) {
      f.png.assign(png, png + size);
      std::free(png);
    }
    if (uint8_t* jpeg = BenchEncodeJpeg(rgb.get(), kSide, kSide, 90, &size)) {
      f.jpeg.assign(jpeg, jpeg + size);
      std::free(jpeg);
    }
    if (f.png.empty() || f.jpeg.empty()) throw std::runtime_error("encoding failed");
    f.folder = (std::filesystem::temp_directory_path() / "kevrale-spi-bench").string();
    std::filesystem::create_directories(f.folder);
    std::ofstream(f.folder + "/picture.png", std::ios::binary)
        .write(reinterpret_cast<const char*>(f.png.data()), std::streamsize(f.png.size()));
    std::ofstream(f.folder + "/picture.jpg", std::ios::binary)
        .write(reinterpret_cast<const char*>(f.jpeg.data()), std::streamsize(f.jpeg.size()));
    return f;
  }();
  return files;
}

const std::vector<uint8_t>& Bytes(bool png) {
  return png ? TestFiles().png : TestFiles().jpeg;
}

void Codec(benchmark::State& state, bool png) {
  const std::vector<uint8_t>& bytes = Bytes(png);
  for (auto _ : state) {
    unsigned checksum = 0;
    const int result = png ? BenchDecodePng(bytes.data(), bytes.size(), &checksum)
                           : BenchDecodeJpeg(bytes.data(), bytes.size(), &checksum);
    if (result != 0) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(checksum);
  }
  state.counters["MB"] = double(bytes.size()) / 1e6;
}

void Plugin(benchmark::State& state, bool png) {
  const std::vector<uint8_t>& bytes = Bytes(png);
  std::string error;
  kevrale::DynamicLibrary library = kevrale::DynamicLibrary::Open(
      std::string(KEVRALE_BIN_DIR) + (png ? "/plugins/ifpng.spi" : "/plugins/ifjpeg.spi"), &error);
  auto get_picture =
      library ? reinterpret_cast<SpiGetPictureFunc>(library.Symbol("GetPicture")) : nullptr;
  if (get_picture == nullptr) {
    state.SkipWithError(("no plug-in: " + error).c_str());
    return;
  }
  for (auto _ : state) {
    SpiHandle info = nullptr, bits = nullptr;
    if (get_picture(reinterpret_cast<const char*>(bytes.data()), intptr_t(bytes.size()),
                    SPI_INPUT_MEMORY, &info, &bits, nullptr, 0) != SPI_SUCCESS)
      state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(bits);
    LocalFree(info);
    LocalFree(bits);
  }
}

void Host(benchmark::State& state, bool png) {
  const std::string path = TestFiles().folder + (png ? "/picture.png" : "/picture.jpg");
  kevrale::SPIBitmapRegistration registration;
  auto host = std::make_unique<kevrale::TSPIs>();
  host->SearchOptions = kevrale::TSPISearchOptions{};
  host->Search(std::string(KEVRALE_BIN_DIR) + "/*.spi");
  for (auto _ : state) {
    kevrale::TPicture picture;
    picture.LoadFromFile(path);
    benchmark::DoNotOptimize(picture.Pixel(kSide / 2, kSide / 2));
  }
}

BENCHMARK_CAPTURE(Codec, png, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Plugin, png, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Host, png, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Codec, jpeg, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Plugin, jpeg, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Host, jpeg, false)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

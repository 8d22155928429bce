#include "SpiTestSupport.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "plugins/DibCheck.h"

namespace kevrale::spitest {

Image MakeImage(int width, int height, const std::function<Rgba(int x, int y)>& pixel) {
  Image image{width, height, {}};
  image.pixels.reserve(size_t(width) * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) image.pixels.push_back(pixel(x, y));
  return image;
}

namespace {

Rgba Grey(int v) {
  return {uint8_t(v), uint8_t(v), uint8_t(v), 255};
}

const Rgba kPalette[12] = {{255, 0, 0},   {0, 255, 0},     {0, 0, 255},     {255, 255, 0},
                           {0, 255, 255}, {255, 0, 255},   {10, 20, 30},    {200, 100, 50},
                           {0, 0, 0},     {255, 255, 255}, {128, 128, 128}, {60, 200, 90}};

}  // namespace

Image GreyPicture() {
  return MakeImage(37, 23, [](int x, int y) { return Grey((x * 7 + y * 11) % 256); });
}

Image GreyLevelsPicture(int levels) {
  return MakeImage(
      37, 23, [levels](int x, int y) { return Grey((x + 2 * y) % levels * 255 / (levels - 1)); });
}

Image BilevelPicture() {
  return MakeImage(61, 41, [](int x, int y) {
    const bool ink = (x / 3 + y / 5) % 2 == 0 || (x - 30) * (x - 30) + (y - 20) * (y - 20) < 100;
    return Grey(ink ? 0 : 255);
  });
}

Image PalettePicture() {
  return MakeImage(37, 23, [](int x, int y) { return kPalette[(x * 3 + y * 5) % 12]; });
}

Image ColourPicture() {
  return MakeImage(37, 23, [](int x, int y) {
    return Rgba{uint8_t(x * 7), uint8_t(y * 11), uint8_t(x * y + 3), 255};
  });
}

Image AlphaPicture() {
  return MakeImage(37, 23, [](int x, int y) {
    const int i = y * 37 + x;
    return Rgba{uint8_t(x * 7), uint8_t(y * 11), uint8_t(x * y + 3),
                uint8_t(i % 5 == 0 ? 0 : i % 256)};
  });
}

Image BinaryAlphaPicture() {
  return MakeImage(37, 23, [](int x, int y) {
    Rgba p = kPalette[(x * 3 + y * 5) % 12];
    if ((x + y) % 7 == 0) p.a = 0;
    return p;
  });
}

Image GreyAlphaPicture() {
  return MakeImage(37, 23, [](int x, int y) {
    Rgba p = Grey((x * 7 + y * 11) % 256);
    p.a = uint8_t((x * 13 + y) % 256);
    return p;
  });
}

Image SmoothPicture() {
  return MakeImage(64, 48, [](int x, int y) {
    return Rgba{uint8_t(40 + x * 3), uint8_t(30 + y * 4), uint8_t(200 - x - y), 255};
  });
}

std::vector<uint8_t> PamBytes(const Image& image, PamKind kind) {
  static const char* const kTypes[] = {"GRAYSCALE", "GRAYSCALE_ALPHA", "RGB", "RGB_ALPHA"};
  static const int kDepths[] = {1, 2, 3, 4};
  const int k = int(kind);
  const std::string header = "P7\nWIDTH " + std::to_string(image.width) + "\nHEIGHT " +
                             std::to_string(image.height) + "\nDEPTH " +
                             std::to_string(kDepths[k]) + "\nMAXVAL 255\nTUPLTYPE " + kTypes[k] +
                             "\nENDHDR\n";
  std::vector<uint8_t> bytes(header.begin(), header.end());
  for (const Rgba& p : image.pixels) {
    switch (kind) {
      case PamKind::kGrey:
        bytes.push_back(p.r);
        break;
      case PamKind::kGreyAlpha:
        bytes.insert(bytes.end(), {p.r, p.a});
        break;
      case PamKind::kRgb:
        bytes.insert(bytes.end(), {p.r, p.g, p.b});
        break;
      case PamKind::kRgbAlpha:
        bytes.insert(bytes.end(), {p.r, p.g, p.b, p.a});
        break;
    }
  }
  return bytes;
}

namespace {

// The real ImageMagick where Debian puts it; the name alone otherwise.
std::string ConvertCommand() {
  for (const char* path : {"/usr/bin/convert-im6.q16", "/usr/bin/convert"})
    if (access(path, X_OK) == 0) return path;
  return "convert";
}

}  // namespace

std::vector<uint8_t> Encode(const Image& image, PamKind kind, const std::string& args,
                            const std::string& out_name, const std::string& out_prefix) {
  TempFolder folder;
  std::string name = out_name, prefix = out_prefix;
  if (const size_t colon = name.find(':'); colon != std::string::npos) {
    prefix = name.substr(0, colon + 1);
    name = name.substr(colon + 1);
  }
  const std::string in = folder.File("in.pam");
  const std::string out = folder.File(name);
  WriteBytes(in, PamBytes(image, kind));
  const std::string command =
      ConvertCommand() + " '" + in + "' " + args + " '" + prefix + out + "' 2>&1";
  const int status = std::system(command.c_str());
  EXPECT_EQ(status, 0) << command;
  if (status != 0) return {};
  return ReadBytes(out);
}

Image SamplePicture(const std::string& format) {
  return format == "jpeg" ? SmoothPicture() : format == "gif" ? PalettePicture() : ColourPicture();
}

const std::vector<uint8_t>& Sample(const std::string& format) {
  static std::map<std::string, std::vector<uint8_t>> samples;
  auto found = samples.find(format);
  if (found != samples.end()) return found->second;
  std::vector<uint8_t> bytes;
  const Image picture = SamplePicture(format);
  if (format == "png")
    bytes = Encode(picture, PamKind::kRgb, "", "PNG24:a.png");
  else if (format == "jpeg")
    bytes = Encode(picture, PamKind::kRgb, "-quality 95", "a.jpg");
  else if (format == "gif")
    bytes = Encode(picture, PamKind::kRgb, "", "a.gif");
  else if (format == "tiff")
    bytes = Encode(picture, PamKind::kRgb, "-compress LZW", "a.tif");
  else if (format == "webp")
    bytes = Encode(picture, PamKind::kRgb, "-define webp:lossless=true", "a.webp");
  else
    ADD_FAILURE() << "no sample of " << format;
  return samples.emplace(format, std::move(bytes)).first->second;
}

Plugin::Plugin(const std::string& format)
    : path_(std::string(KEVRALE_BIN_DIR) + "/plugins/if" + format + ".spi") {
  std::string error;
  library_ = DynamicLibrary::Open(path_, &error);
  EXPECT_TRUE(library_.IsOpen()) << path_ << ": " << error;
  if (!library_) return;
  get_plugin_info_ = reinterpret_cast<SpiGetPluginInfoFunc>(library_.Symbol("GetPluginInfo"));
  is_supported_ = reinterpret_cast<SpiIsSupportedFunc>(library_.Symbol("IsSupported"));
  get_picture_info_ = reinterpret_cast<SpiGetPictureInfoFunc>(library_.Symbol("GetPictureInfo"));
  get_picture_ = reinterpret_cast<SpiGetPictureFunc>(library_.Symbol("GetPicture"));
  EXPECT_TRUE(Loaded()) << path_ << " lacks an entry point";
}

std::string Plugin::Info(int32_t number, int32_t buflen, int32_t* stored) const {
  std::vector<char> buf(size_t(buflen) + 16, '#');
  const int32_t n = get_plugin_info_(number, buf.data(), buflen);
  if (stored != nullptr) *stored = n;
  // Nothing past the buffer's end is touched.
  for (size_t i = size_t(buflen); i < buf.size(); ++i) EXPECT_EQ(buf[i], '#') << "byte " << i;
  if (n <= 0) return {};
  EXPECT_EQ(buf[size_t(n)], '\0');
  return std::string(buf.data(), size_t(n));
}

bool Plugin::Supports(const std::vector<uint8_t>& bytes, const std::string& name) const {
  std::vector<uint8_t> head(2176, 0);
  if (!bytes.empty()) std::memcpy(head.data(), bytes.data(), std::min(bytes.size(), head.size()));
  return is_supported_(name.c_str(), reinterpret_cast<intptr_t>(head.data())) != 0;
}

namespace {

int32_t Record(int32_t num, int32_t denom, intptr_t data) {
  auto* decoded = reinterpret_cast<Decoded*>(data);
  decoded->progress.push_back(num);
  decoded->progress_total = denom;
  return 0;
}

uint32_t Get32(const uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
}

// Reads the two blocks into `decoded` and frees them.
void TakeDib(SpiHandle info, SpiHandle bits, Decoded& decoded) {
  const size_t info_size = LocalSize(info);
  const size_t bits_size = LocalSize(bits);
  const auto* header = static_cast<const uint8_t*>(LocalLock(info));
  const auto* rows = static_cast<const uint8_t*>(LocalLock(bits));
  ASSERT_NE(header, nullptr);
  ASSERT_NE(rows, nullptr);
  const auto layout = CheckDib(header, info_size, rows, bits_size);
  decoded.dib_ok = layout.has_value();
  if (layout) {
    decoded.bits = layout->BitCount;
    decoded.colors = Get32(header + 32);
    decoded.raw.assign(header, header + layout->InfoSize);
    decoded.raw.insert(decoded.raw.end(), rows, rows + layout->ImageSize);
    EXPECT_GT(layout->Height, 0) << "rows bottom-up";
    EXPECT_EQ(Get32(header + 16), 0u) << "BI_RGB";
    Image& image = decoded.image;
    image.width = layout->Width;
    image.height = std::abs(layout->Height);
    image.pixels.resize(size_t(image.width) * image.height);
    const uint8_t* table = header + 40;
    for (int y = 0; y < image.height; ++y) {
      const uint8_t* row = rows + size_t(image.height - 1 - y) * layout->Stride;
      for (int x = 0; x < image.width; ++x) {
        Rgba& p = image.pixels[size_t(y) * image.width + x];
        const uint8_t* bgr = nullptr;
        switch (layout->BitCount) {
          case 1:
            bgr = table + 4 * ((row[x / 8] >> (7 - x % 8)) & 1);
            break;
          case 4:
            bgr = table + 4 * ((row[x / 2] >> (x % 2 ? 0 : 4)) & 15);
            break;
          case 8:
            bgr = table + 4 * row[x];
            break;
          case 24:
            bgr = row + 3 * x;
            break;
          case 32:
            bgr = row + 4 * x;
            p.a = bgr[3];
            break;
          default:
            ADD_FAILURE() << "bit count " << layout->BitCount;
            return;
        }
        p.b = bgr[0];
        p.g = bgr[1];
        p.r = bgr[2];
      }
    }
  }
  LocalUnlock(info);
  LocalUnlock(bits);
}

Decoded Finish(int32_t result, SpiHandle info, SpiHandle bits, Decoded decoded) {
  decoded.result = result;
  if (result == SPI_SUCCESS) {
    EXPECT_NE(info, nullptr);
    EXPECT_NE(bits, nullptr);
    if (info != nullptr && bits != nullptr) TakeDib(info, bits, decoded);
  } else {
    EXPECT_EQ(info, nullptr) << "a failed call hands back no handle";
    EXPECT_EQ(bits, nullptr) << "a failed call hands back no handle";
  }
  if (info != nullptr) {
    EXPECT_EQ(LocalFree(info), nullptr);
  }
  if (bits != nullptr) {
    EXPECT_EQ(LocalFree(bits), nullptr);
  }
  return decoded;
}

}  // namespace

Decoded DecodeMemory(const Plugin& plugin, const std::vector<uint8_t>& bytes) {
  Decoded decoded;
  // Handles that are not cleared by a failure would show as these.
  SpiHandle info = reinterpret_cast<SpiHandle>(1), bits = reinterpret_cast<SpiHandle>(1);
  const int32_t result =
      plugin.Picture(reinterpret_cast<const char*>(bytes.data()), intptr_t(bytes.size()),
                     SPI_INPUT_MEMORY, &info, &bits, Record, reinterpret_cast<intptr_t>(&decoded));
  return Finish(result, info, bits, std::move(decoded));
}

Decoded DecodeFileWithOffset(const Plugin& plugin, const std::vector<uint8_t>& bytes) {
  TempFolder folder;
  std::vector<uint8_t> file(128);
  for (size_t i = 0; i < file.size(); ++i) file[i] = uint8_t(i * 37 + 11);
  file.insert(file.end(), bytes.begin(), bytes.end());
  const std::string path = folder.File("picture.bin");
  WriteBytes(path, file);
  Decoded decoded;
  SpiHandle info = nullptr, bits = nullptr;
  const int32_t result = plugin.Picture(path.c_str(), 128, SPI_INPUT_FILE, &info, &bits, Record,
                                        reinterpret_cast<intptr_t>(&decoded));
  return Finish(result, info, bits, std::move(decoded));
}

Difference Compare(const Image& expected, const Image& actual, bool with_alpha) {
  Difference d;
  if (expected.width != actual.width || expected.height != actual.height) {
    ADD_FAILURE() << "size " << actual.width << "x" << actual.height << ", expected "
                  << expected.width << "x" << expected.height;
    d.max = 1000;
    return d;
  }
  double sum = 0;
  size_t count = 0;
  for (size_t i = 0; i < expected.pixels.size(); ++i) {
    const Rgba& e = expected.pixels[i];
    const Rgba& a = actual.pixels[i];
    const int alpha = with_alpha ? std::abs(e.a - a.a) : 0;
    d.max = std::max(d.max, alpha);
    if (with_alpha && e.a == 0) continue;  // the colour of a transparent pixel is free
    for (int c : {std::abs(e.r - a.r), std::abs(e.g - a.g), std::abs(e.b - a.b)}) {
      d.max = std::max(d.max, c);
      sum += c;
      ++count;
    }
  }
  d.mean = count > 0 ? sum / double(count) : 0;
  return d;
}

}  // namespace kevrale::spitest

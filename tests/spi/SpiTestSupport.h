// Helpers of the bundled plug-in tests: pictures with known pixels, files
// made from them by an independent encoder (ImageMagick's convert), the
// built plug-ins loaded through their own entry points, and what their
// bitmaps hold.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "TempFolder.h"
#include "kevrale/spi.h"
#include "platform/DynamicLibrary.h"

namespace kevrale::spitest {

struct Rgba {
  uint8_t r = 0, g = 0, b = 0, a = 255;
  bool operator==(const Rgba&) const = default;
};

// A picture of known pixels, rows from the top.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<Rgba> pixels;
  const Rgba& At(int x, int y) const { return pixels[size_t(y) * width + x]; }
};

Image MakeImage(int width, int height, const std::function<Rgba(int x, int y)>& pixel);

// The test pictures. Sizes are odd so that rows need padding.
Image GreyPicture();                  // 37x23, 256 levels
Image GreyLevelsPicture(int levels);  // 37x23, `levels` evenly spaced greys
Image BilevelPicture();               // 61x41, black and white
Image PalettePicture();               // 37x23, 12 colours
Image ColourPicture();                // 37x23, about 850 colours
Image AlphaPicture();                 // 37x23, colour with alpha from 0 to 255
Image BinaryAlphaPicture();           // 37x23, 12 colours, some pixels transparent
Image GreyAlphaPicture();             // 37x23
Image SmoothPicture();                // 64x48, gentle gradients for the lossy formats

// How a picture is written as PAM, the encoder's input.
enum class PamKind { kGrey, kGreyAlpha, kRgb, kRgbAlpha };
std::vector<uint8_t> PamBytes(const Image& image, PamKind kind);

using test::ReadBytes;
using test::TempFolder;
using test::WriteBytes;

// Writes `image` as PAM and runs "convert in.pam ARGS out" on it. The
// output's name may start with a format ("PNG8:a.png"), or the format comes
// as `out_prefix`. Returns the output file's bytes; empty, and a failed
// expectation, when convert fails.
std::vector<uint8_t> Encode(const Image& image, PamKind kind, const std::string& args,
                            const std::string& out_name, const std::string& out_prefix = "");

// The five formats, by the names of their plug-ins.
inline const char* const kFormats[] = {"png", "jpeg", "gif", "tiff", "webp"};

// A typical file of each format (made once per run): "png", "jpeg", "gif",
// "tiff" or "webp". The picture it holds is SamplePicture(format).
const std::vector<uint8_t>& Sample(const std::string& format);
Image SamplePicture(const std::string& format);

// One built plug-in of the program's folder, through its entry points.
class Plugin {
 public:
  // "png" loads ifpng.spi from the program's folder.
  explicit Plugin(const std::string& format);
  bool Loaded() const {
    return get_plugin_info_ && is_supported_ && get_picture_info_ && get_picture_;
  }
  const std::string& Path() const { return path_; }

  std::string Info(int32_t number, int32_t buflen = 512, int32_t* stored = nullptr) const;
  // Passes the head of `bytes` in a zero-filled buffer of 2176 bytes, as
  // the host does.
  bool Supports(const std::vector<uint8_t>& bytes, const std::string& name = "") const;
  int32_t PictureInfo(const char* buf, intptr_t len, uint32_t flag, SpiPictureInfo* info) const {
    return get_picture_info_(buf, len, flag, info);
  }
  int32_t Picture(const char* buf, intptr_t len, uint32_t flag, SpiHandle* info, SpiHandle* bits,
                  SpiProgressCallback progress, intptr_t data) const {
    return get_picture_(buf, len, flag, info, bits, progress, data);
  }

 private:
  std::string path_;
  DynamicLibrary library_;
  SpiGetPluginInfoFunc get_plugin_info_ = nullptr;
  SpiIsSupportedFunc is_supported_ = nullptr;
  SpiGetPictureInfoFunc get_picture_info_ = nullptr;
  SpiGetPictureFunc get_picture_ = nullptr;
};

// What one GetPicture call gave, its handles already freed.
struct Decoded {
  int32_t result = -100;
  bool dib_ok = false;            // the host's DIB check accepted the two blocks
  int bits = 0;                   // biBitCount
  uint32_t colors = 0;            // biClrUsed
  Image image;                    // the pixels through the colour table; alpha 255 below 32 bits
  std::vector<uint8_t> raw;       // the information block and the rows, for comparing two decodes
  std::vector<int32_t> progress;  // num of each progress call
  int32_t progress_total = 0;
};

// Memory input of `bytes`.
Decoded DecodeMemory(const Plugin& plugin, const std::vector<uint8_t>& bytes);
// File input: writes 128 junk bytes and then `bytes` to a file and passes
// the offset 128.
Decoded DecodeFileWithOffset(const Plugin& plugin, const std::vector<uint8_t>& bytes);

// The largest difference of any channel of any pixel, and the mean of the
// absolute differences over all colour channels; pixels that are
// transparent in `expected` count only for their alpha.
struct Difference {
  int max = 0;
  double mean = 0;
};
Difference Compare(const Image& expected, const Image& actual, bool with_alpha);

}  // namespace kevrale::spitest

// Helpers of the decoding tests: KVT test images, a plug-in host holding
// chosen test decoders, the call log of the decoders and a recorder of
// progress reports.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "Files.h"
#include "TempFolder.h"
#include "TestPlugins.h"
#include "picture/TBitmap.h"
#include "picture/TGraphic.h"
#include "picture/TPicture.h"
#include "platform/Color.h"
#include "platform/Stream.h"
#include "plugins/ProcessSpiLibrary.h"
#include "plugins/TSPIBitmap.h"
#include "plugins/TSPIs.h"

namespace kevrale::test {

// A picture as rows of 0x00BBGGRR colours, top row first.
struct Pixels {
  int width = 0;
  int height = 0;
  std::vector<TColor> colours;
  TColor At(int x, int y) const { return colours[size_t(y) * size_t(width) + size_t(x)]; }
};

// A picture of `width` x `height` in which pixel (x, y) is f(x, y).
template <class F>
Pixels MakePixels(int width, int height, F f) {
  Pixels p{width, height, {}};
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) p.colours.push_back(f(x, y));
  return p;
}

inline void Append32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

// The KVT form of a picture, after `prefix` bytes of 0xA5 (a stand-in for
// a MacBinary header).
inline std::vector<uint8_t> KvtBytes(const Pixels& p, size_t prefix = 0) {
  std::vector<uint8_t> out(prefix, 0xA5);
  for (char c : std::string("KVT1")) out.push_back(uint8_t(c));
  Append32(out, uint32_t(p.width));
  Append32(out, uint32_t(p.height));
  for (TColor c : p.colours) {
    out.push_back(GetRValue(c));
    out.push_back(GetGValue(c));
    out.push_back(GetBValue(c));
  }
  return out;
}

// The BMP form of a picture (24 bits, bottom-up).
inline std::vector<uint8_t> BmpBytes(const Pixels& p) {
  TBitmap bitmap(p.width, p.height);
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) bitmap.SetPixel(x, y, p.At(x, y));
  TMemoryStream stream;
  bitmap.SaveToStream(stream);
  return stream.Data();
}

// The colours of a bitmap.
inline Pixels PixelsOf(const TBitmap& bitmap) {
  return MakePixels(bitmap.Width(), bitmap.Height(),
                    [&](int x, int y) { return bitmap.Pixel(x, y); });
}

// The colours of a rendered picture (0xAARRGGBB) as 0x00BBGGRR.
inline Pixels PixelsOf(const ArgbImage& image) {
  return MakePixels(image.width, image.height, [&](int x, int y) {
    const uint32_t argb = image.At(x, y);
    return RGB(uint8_t(argb >> 16), uint8_t(argb >> 8), uint8_t(argb));
  });
}

inline bool operator==(const Pixels& a, const Pixels& b) {
  return a.width == b.width && a.height == b.height && a.colours == b.colours;
}

inline std::ostream& operator<<(std::ostream& os, const Pixels& p) {
  os << p.width << "x" << p.height << " {";
  for (TColor c : p.colours) os << " " << std::hex << c << std::dec;
  return os << " }";
}

// A small picture with four colours.
inline Pixels FourColours() {
  return MakePixels(3, 2, [](int x, int y) {
    static const TColor kColours[] = {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255),
                                      RGB(255, 255, 255)};
    return kColours[(x + 2 * y) % 4];
  });
}

// Where the decoders of a test host run.
enum class Placement {
  InProcess,   // loaded into this process
  InProcesses  // in plug-in processes (the runner of the build)
};

// A module of test decoder `name`, run as `placement` says.
inline std::unique_ptr<TSPI> TestModule(const std::string& name, Placement placement) {
  if (placement == Placement::InProcess) return CreateSPI(TestSpi(name));
  PluginProcessOptions options;
  options.program_folder = KEVRALE_BIN_DIR;
  options.time_limit_seconds = 30;
  // Unconfined: the decoders write their call log (DecoderLog) to a file.
  options.confine = false;
  return CreateSPI(SpiSource(TestSpi(name), [options](const std::string& file) {
    return ProcessSpiLibrary::Open(file, options, nullptr);
  }));
}

// A plug-in host holding the named test decoders in the given order. On its
// end every format of TSPIBitmap is withdrawn from the registry again.
class TestHost {
 public:
  explicit TestHost(const std::vector<std::string>& decoders, bool mac_binary = true,
                    bool preview = false, Placement placement = Placement::InProcess) {
    host_ = std::make_unique<TSPIs>();
    host_->SearchOptions = TSPISearchOptions{};
    host_->MacBinary = mac_binary;
    host_->GraphicPreview = preview;
    for (const std::string& name : decoders) {
      std::unique_ptr<TSPI> spi = TestModule(name, placement);
      if (!spi) throw std::runtime_error("cannot load " + name);
      host_->Add(std::move(spi));
    }
  }
  ~TestHost() {
    host_.reset();
    TPicture::UnregisterGraphicClass(&TSPIBitmap::Class);
  }
  TSPIs& Host() { return *host_; }

 private:
  std::unique_ptr<TSPIs> host_;
};

// The call log of the test decoders, kept in a temporary file for the
// duration of the test.
class DecoderLog {
 public:
  DecoderLog() : path_(folder_.File("calls.log")) {
    if (const char* old = std::getenv("KEVRALE_KVT_LOG")) old_ = old;
    setenv("KEVRALE_KVT_LOG", path_.c_str(), 1);
  }
  ~DecoderLog() {
    if (old_.empty())
      unsetenv("KEVRALE_KVT_LOG");
    else
      setenv("KEVRALE_KVT_LOG", old_.c_str(), 1);
  }
  DecoderLog(const DecoderLog&) = delete;
  DecoderLog& operator=(const DecoderLog&) = delete;

  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::ifstream in(path_);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  void Clear() { std::filesystem::remove(path_); }

 private:
  TempFolder folder_;
  std::string path_;
  std::string old_;
};

// The text with which a test decoder logs an address.
inline std::string AddressText(const void* p) {
  char text[32];
  std::snprintf(text, sizeof text, "%p", p);
  return text;
}

struct Report {
  const TGraphic* Sender = nullptr;
  TProgressStage Stage = psStarting;
  int Percent = 0;
  bool RedrawNow = false;
  TRect R;
  std::string Msg;
};

// Records every progress report; `Throw` may raise from inside the listener.
struct ProgressRecorder {
  std::vector<Report> Reports;
  std::function<void(const Report&)> Throw;

  TProgressEvent Listener() {
    return [this](TGraphic& sender, TProgressStage stage, uint8_t percent, bool redraw,
                  const TRect& r, const std::string& msg) {
      Reports.push_back({&sender, stage, percent, redraw, r, msg});
      if (Throw) Throw(Reports.back());
    };
  }

  // "S 0 text", "R 1 text", "E 100 text": the stage, percentage and message.
  std::vector<std::string> Summary() const {
    std::vector<std::string> out;
    for (const Report& r : Reports) {
      const char stage = r.Stage == psStarting ? 'S' : r.Stage == psRunning ? 'R' : 'E';
      out.push_back(std::string(1, stage) + " " + std::to_string(r.Percent) +
                    (r.Msg.empty() ? "" : " " + r.Msg));
    }
    return out;
  }
};

}  // namespace kevrale::test

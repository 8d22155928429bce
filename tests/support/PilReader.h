// Python's PIL as an independent reader of the files the program writes:
// what it decodes, and what it would decode from a bitmap's own pixels.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "picture/TBitmap.h"

namespace kevrale::pil {

// PIL decodes each file, turns its pixels into RGB, or RGBA where the file
// has alpha (an alpha channel or transparent palette entries or grey
// levels), and prints "MODE WIDTH HEIGHT" of that and then every pixel as
// RRGGBB or RRGGBBAA, row by row from the top. With --modes first, it
// prints the file's own mode instead: "1", "L", "P", "RGB", "RGBA", ...
inline constexpr const char* kScript = R"(
import sys
from PIL import Image
modes = sys.argv[1:2] == ['--modes']
for path in sys.argv[2 if modes else 1:]:
    im = Image.open(path)
    im.load()
    if modes:
        print(im.mode)
        continue
    alpha = im.mode in ('RGBA', 'LA', 'PA') or 'transparency' in im.info
    im = im.convert('RGBA' if alpha else 'RGB')
    print(im.mode, im.width, im.height)
    print(' '.join(bytes(p).hex() for p in im.getdata()))
)";

// PIL's description of the files. `missing` gets the reason when PIL cannot
// run here (the caller skips its check then).
inline std::string Describe(const std::vector<std::string>& files, std::string& missing,
                            bool modes = false) {
  if (!std::filesystem::exists("/usr/bin/python3")) {
    missing = "/usr/bin/python3 is missing (Debian's python3-pil provides the check)";
    return {};
  }
  char script[] = "/tmp/kevrale-pil-XXXXXX";
  const int fd = ::mkstemp(script);
  if (fd < 0) return "mkstemp failed";
  const std::string text = kScript;
  const bool written = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
  ::close(fd);
  std::string command = "/usr/bin/python3 " + std::string(script) + (modes ? " --modes" : "");
  for (const std::string& f : files) command += " '" + f + "'";
  command += " 2>&1";
  std::string out;
  if (written) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    char buffer[4096];
    while (pipe && !std::feof(pipe.get()))
      if (const size_t n = std::fread(buffer, 1, sizeof buffer, pipe.get())) out.append(buffer, n);
  }
  ::unlink(script);
  if (out.find("No module named 'PIL'") != std::string::npos)
    missing = "PIL is not installed for /usr/bin/python3 (Debian's python3-pil)";
  return out;
}

// The files' own modes, one a line.
inline std::string Modes(const std::vector<std::string>& files, std::string& missing) {
  return Describe(files, missing, true);
}

// A picture with distinct values in every channel of every pixel (odd
// widths pad the rows), for the writers' read-back checks.
inline TBitmap SampleBitmap(int width, int height, TPixelFormat format) {
  TBitmap b(width, height, format);
  for (int y = 0; y < height; ++y) {
    uint8_t* p = b.ScanLine(y);
    for (int x = 0; x < width; ++x, p += b.BytesPerPixel()) {
      p[0] = uint8_t(x * 31 + y * 7);
      p[1] = uint8_t(x * 5 + y * 53);
      p[2] = uint8_t(x * 97 + y * 3 + 1);
      if (b.HasAlpha()) p[3] = uint8_t(x * 60 + y * 11);
    }
  }
  return b;
}

// What PIL prints for a file that holds exactly the bitmap's pixels.
inline std::string Expected(const TBitmap& b) {
  std::ostringstream out;
  out << (b.HasAlpha() ? "RGBA " : "RGB ") << b.Width() << " " << b.Height() << "\n";
  char hex[9];
  for (int y = 0; y < b.Height(); ++y) {
    const uint8_t* p = b.ScanLine(y);
    for (int x = 0; x < b.Width(); ++x, p += b.BytesPerPixel()) {
      if (b.HasAlpha())
        std::snprintf(hex, sizeof hex, "%02x%02x%02x%02x", p[2], p[1], p[0], p[3]);
      else
        std::snprintf(hex, sizeof hex, "%02x%02x%02x", p[2], p[1], p[0]);
      out << (x == 0 && y == 0 ? "" : " ") << hex;
    }
  }
  out << "\n";
  return out.str();
}

}  // namespace kevrale::pil

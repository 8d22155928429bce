#include "cli/Options.h"

#include <charconv>
#include <cmath>

namespace kevrale::cli {

const char* const kUsage =
    "usage: kevrale-thin [--target COLOR | --target-at X,Y] [--tolerance N]\n"
    "                    [--surround COLOR|transparent] [--sweeps N|all]\n"
    "                    [--prune N] [--simplify T]\n"
    "                    [-o OUTPUT | --format FORMAT] IMAGE...\n"
    "       kevrale-thin --list FILE [--target COLOR] [--tolerance N]\n"
    "                    [--surround COLOR|transparent] [--sweeps N|all]\n"
    "                    [--prune N] [--simplify T]\n"
    "                    [--format FORMAT] [--keep-going] [-j N]\n"
    "       kevrale-thin --formats\n"
    "       (each form also takes --plugin-timeout SECONDS)\n"
    "\n"
    "Thins every region of the target colour in each IMAGE to a line one pixel\n"
    "wide and repaints the removed pixels in the surround colour. Each result is\n"
    "saved beside its source, named after it with \"_s.bmp\" (page01.jpg gives\n"
    "page01_s.bmp), or to OUTPUT when one IMAGE is given. OUTPUT's extension\n"
    "chooses the format: .png PNG, .tif or .tiff TIFF, .svg SVG, any other\n"
    "BMP; \"-\" writes BMP to standard output. An SVG result holds the centre\n"
    "lines of the target colour as paths through the pixel centres.\n"
    "\n"
    "  --target COLOR      target colour, #RRGGBB or RRGGBB (default 000000)\n"
    "  --target-at X,Y     take the target colour from pixel (X, Y) of each image\n"
    "  --tolerance N       also thin the near shades of the target colour: every\n"
    "                      pixel none of whose red, green and blue values differs\n"
    "                      from the target's by more than N (0 to 255, default 0)\n"
    "  --surround COLOR    surround colour (default FFFFFF)\n"
    "  --surround transparent\n"
    "                      removed pixels become fully transparent; a picture\n"
    "                      without transparency is saved with it (32-bit BMP)\n"
    "  --sweeps N|all      run the sweep N times, each on the result of the one\n"
    "                      before (1 to 1000, default 1), or until a sweep\n"
    "                      removes nothing (all); one sweep leaves a thick core\n"
    "                      in strokes wider than about 36 pixels, as in bold\n"
    "                      lettering and filled shapes\n"
    "  -o, --output FILE   where to save the result of a single IMAGE\n"
    "  --format FORMAT     bmp, png, tif or svg: the format of the results saved\n"
    "                      beside their sources, named \"_s.bmp\", \"_s.png\",\n"
    "                      \"_s.tif\", \"_s.svg\" (default bmp)\n"
    "  --prune N           after thinning, remove every branch shorter than N\n"
    "                      pixels that runs from a line end to a junction\n"
    "  --simplify T        SVG: simplify each path within T pixels (default 0:\n"
    "                      exact, through every pixel of the line)\n"
    "  --list FILE         thin every image named in FILE, one path a line (of\n"
    "                      at most 64 KiB); relative paths are taken from the\n"
    "                      folder of FILE\n"
    "  --keep-going        with --list: go on past failing entries and list\n"
    "                      them at the end (default: stop at the first)\n"
    "  -j, --jobs N        with --list: thin up to N images at once\n"
    "  --formats           show the confinement of plug-in processes, then\n"
    "                      list the registered file kinds, newest\n"
    "                      registration first, each with the plug-in that\n"
    "                      reads it (a Windows plug-in with its machine\n"
    "                      type), then the plug-in files that could not be\n"
    "                      used and why\n"
    "  --plugin-timeout SECONDS\n"
    "                      how long a plug-in in a process of its own may\n"
    "                      keep silent before it is ended and its picture\n"
    "                      fails (default 60; 0: no limit)\n"
    "  --help              show this help\n"
    "  --version           show the version\n";

namespace {

bool ParseHexByte(const std::string& text, size_t at, uint8_t& out) {
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(text.data() + at, text.data() + at + 2, value, 16);
  if (ec != std::errc() || end != text.data() + at + 2) return false;
  out = uint8_t(value);
  return true;
}

bool ParseInt(const std::string& text, int& out) {
  if (text.empty()) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size() && out >= 0;
}

// A finite number of pixels, not negative.
bool ParseDistance(const std::string& text, double& out) {
  if (text.empty()) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size() && std::isfinite(out) && out >= 0;
}

}  // namespace

std::optional<TColor> ParseColor(const std::string& text) {
  const size_t start = (!text.empty() && text[0] == '#') ? 1 : 0;
  if (text.size() != start + 6) return std::nullopt;
  uint8_t r, g, b;
  if (!ParseHexByte(text, start, r) || !ParseHexByte(text, start + 2, g) ||
      !ParseHexByte(text, start + 4, b))
    return std::nullopt;
  return RGB(r, g, b);
}

std::optional<PixelPosition> ParsePosition(const std::string& text) {
  const size_t comma = text.find(',');
  if (comma == std::string::npos) return std::nullopt;
  PixelPosition p;
  if (!ParseInt(text.substr(0, comma), p.x) || !ParseInt(text.substr(comma + 1), p.y))
    return std::nullopt;
  return p;
}

Options ParseOptions(const std::vector<std::string>& args) {
  Options o;
  bool target_given = false;
  bool only_files = false;
  bool jobs_given = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw UsageError{"option " + a + " needs a value"};
      return args[++i];
    };
    if (only_files || a.empty() || a[0] != '-' || a == "-") {
      o.images.push_back(a);
    } else if (a == "--") {
      only_files = true;
    } else if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--version") {
      o.version = true;
    } else if (a == "--formats") {
      o.formats = true;
    } else if (a == "--target") {
      const std::string& v = value();
      const auto c = ParseColor(v);
      if (!c) throw UsageError{"not a colour (#RRGGBB): " + v};
      o.target = *c;
      target_given = true;
    } else if (a == "--target-at") {
      const std::string& v = value();
      const auto p = ParsePosition(v);
      if (!p) throw UsageError{"not a pixel position (X,Y): " + v};
      o.target_at = *p;
    } else if (a == "--surround") {
      // The last --surround decides; "transparent" keeps the colour bytes
      // of the surround colour given so far.
      const std::string& v = value();
      if (v == "transparent") {
        o.thinning.transparent_surround = true;
      } else {
        const auto c = ParseColor(v);
        if (!c) throw UsageError{"not a colour (#RRGGBB) nor \"transparent\": " + v};
        o.surround = *c;
        o.thinning.transparent_surround = false;
      }
    } else if (a == "--tolerance") {
      const std::string& v = value();
      if (!ParseInt(v, o.thinning.tolerance) || o.thinning.tolerance > kMaxTolerance)
        throw UsageError{"not a tolerance (0 to " + std::to_string(kMaxTolerance) + "): " + v};
    } else if (a == "--sweeps") {
      const std::string& v = value();
      if (v == "all") {
        o.thinning.sweeps = kSweepsAll;
      } else if (!ParseInt(v, o.thinning.sweeps) || o.thinning.sweeps < 1 ||
                 o.thinning.sweeps > kMaxSweeps) {
        throw UsageError{"not a number of sweeps (1 to " + std::to_string(kMaxSweeps) +
                         ", or all): " + v};
      }
    } else if (a == "-o" || a == "--output") {
      o.output = value();
    } else if (a == "--format") {
      const std::string& v = value();
      o.format = ImageFileFormatNamed(v);
      if (!o.format) throw UsageError{"not an output format (bmp, png, tif or svg): " + v};
    } else if (a == "--prune") {
      const std::string& v = value();
      if (!ParseInt(v, o.prune)) throw UsageError{"not a length in pixels: " + v};
    } else if (a == "--simplify") {
      const std::string& v = value();
      if (!ParseDistance(v, o.simplify)) throw UsageError{"not a distance in pixels: " + v};
    } else if (a == "--list") {
      o.list = value();
    } else if (a == "--plugin-timeout") {
      const std::string& v = value();
      if (!ParseInt(v, o.plugin_timeout) || o.plugin_timeout > kMaxPluginTimeout)
        throw UsageError{"not a number of seconds (0 to " + std::to_string(kMaxPluginTimeout) +
                         "): " + v};
    } else if (a == "--keep-going") {
      o.keep_going = true;
    } else if (a == "-j" || a == "--jobs" || (a.size() > 2 && a.starts_with("-j"))) {
      const std::string v = a.size() > 2 && a[1] == 'j' ? a.substr(2) : value();
      if (!ParseInt(v, o.jobs) || o.jobs < 1 || o.jobs > kMaxJobs)
        throw UsageError{"not a number of jobs (1 to " + std::to_string(kMaxJobs) + "): " + v};
      jobs_given = true;
    } else {
      throw UsageError{"unknown option " + a};
    }
  }
  if (o.help || o.version || o.formats) return o;
  if (target_given && o.target_at) throw UsageError{"--target and --target-at exclude each other"};
  if (o.output && o.format)
    throw UsageError{
        "-o names its format by its extension; --format is for results beside the sources"};
  if (o.simplify > 0 && ResultFormat(o) != TImageFileFormat::Svg)
    throw UsageError{"--simplify applies to SVG output (-o NAME.svg or --format svg)"};
  if (o.list) {
    // A list run thins every entry with one target colour, as the desktop batch does.
    if (!o.images.empty()) throw UsageError{"--list takes no IMAGE"};
    if (o.output) throw UsageError{"--list saves beside each source; -o does not apply"};
    if (o.target_at) throw UsageError{"--target-at does not apply to --list"};
    return o;
  }
  if (o.keep_going || jobs_given) throw UsageError{"--keep-going and -j go with --list"};
  if (o.images.empty()) throw UsageError{"no image given"};
  if (o.output && o.images.size() != 1) throw UsageError{"-o takes exactly one image"};
  return o;
}

TImageFileFormat ResultFormat(const Options& options) {
  if (options.output) return ImageFileFormatFor(*options.output);
  return options.format.value_or(TImageFileFormat::Bmp);
}

}  // namespace kevrale::cli

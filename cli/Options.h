// Command-line options of kevrale-thin.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "picture/ImageFileFormat.h"
#include "platform/Color.h"
#include "thinning/ThinningEngine.h"

namespace kevrale::cli {

struct PixelPosition {
  int x = 0;
  int y = 0;
};

struct Options {
  TColor target = clBlack;    // the desktop program starts with black ...
  TColor surround = clWhite;  // ... and white
  ThinningOptions thinning;   // --tolerance, --surround transparent, --sweeps
  std::optional<PixelPosition> target_at;
  std::optional<std::string> output;
  std::optional<TImageFileFormat> format;  // --format: the kind of the results beside the sources
  int prune = 0;                           // --prune: spurs shorter than this many pixels go
  double simplify = 0;                     // --simplify: SVG paths within this many pixels
  std::vector<std::string> images;
  std::optional<std::string> list;  // --list: run the entries of a list file
  bool keep_going = false;          // --keep-going: go on past failing entries
  int jobs = 1;                     // -j: entries thinned at once
  bool formats = false;             // --formats: list the formats that open
  int plugin_timeout = 60;          // --plugin-timeout: seconds; 0: no limit
  bool help = false;
  bool version = false;
};

// A usage error: the message is printed with the usage line, exit status 2.
struct UsageError {
  std::string message;
};

// Parses argv[1..]; throws UsageError.
Options ParseOptions(const std::vector<std::string>& args);

// The format results are saved in: the one that -o names by its extension,
// else --format's, else BMP.
TImageFileFormat ResultFormat(const Options& options);

// The most jobs -j accepts.
constexpr int kMaxJobs = 256;

// The most sweeps --sweeps N accepts; "all" runs as many as it takes.
constexpr int kMaxSweeps = 1000;

// The longest --plugin-timeout: a day.
constexpr int kMaxPluginTimeout = 86400;

// "#RRGGBB" or "RRGGBB" as a colour value 0x00BBGGRR; nullopt otherwise.
std::optional<TColor> ParseColor(const std::string& text);
// "X,Y" with non-negative integers; nullopt otherwise.
std::optional<PixelPosition> ParsePosition(const std::string& text);

extern const char* const kUsage;

}  // namespace kevrale::cli

// Command-line options of kevrale-thin.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/Color.h"

namespace kevrale::cli {

// The format of the results whose names the tool makes (beside each source,
// "_s." and the format's extension); -o names its own output, whose
// extension chooses the format.
enum class OutputFormat { Bmp, Png, Tiff };

struct PixelPosition {
  int x = 0;
  int y = 0;
};

struct Options {
  TColor target = clBlack;    // the desktop program starts with black ...
  TColor surround = clWhite;  // ... and white
  std::optional<PixelPosition> target_at;
  std::optional<std::string> output;
  std::vector<std::string> images;
  std::optional<std::string> list;          // --list: run the entries of a list file
  OutputFormat format = OutputFormat::Bmp;  // --format: of the "_s" results
  bool keep_going = false;                  // --keep-going: go on past failing entries
  int jobs = 1;                             // -j: entries thinned at once
  bool formats = false;                     // --formats: list the formats that open
  bool help = false;
  bool version = false;
};

// A usage error: the message is printed with the usage line, exit status 2.
struct UsageError {
  std::string message;
};

// Parses argv[1..]; throws UsageError.
Options ParseOptions(const std::vector<std::string>& args);

// The most jobs -j accepts.
constexpr int kMaxJobs = 256;

// "#RRGGBB" or "RRGGBB" as a colour value 0x00BBGGRR; nullopt otherwise.
std::optional<TColor> ParseColor(const std::string& text);
// "bmp", "png" or "tif"; nullopt otherwise.
std::optional<OutputFormat> ParseOutputFormat(const std::string& text);
// The extension, without its dot, that a format's results are named with.
const char* SaveExtension(OutputFormat format);

// "X,Y" with non-negative integers; nullopt otherwise.
std::optional<PixelPosition> ParsePosition(const std::string& text);

extern const char* const kUsage;

}  // namespace kevrale::cli

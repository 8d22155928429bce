#include "cli/OutputFormat.h"

#include "platform/FileName.h"

namespace kevrale::cli {

namespace {

struct FormatName {
  OutputFormat format;
  std::string_view name;  // the value of --format and the extension
};

// The first name of a format is the extension its save names get.
constexpr FormatName kFormats[] = {
    {OutputFormat::kBmp, "bmp"},   {OutputFormat::kPng, "png"}, {OutputFormat::kTiff, "tif"},
    {OutputFormat::kTiff, "tiff"}, {OutputFormat::kSvg, "svg"},
};

}  // namespace

OutputFormat OutputFormatOfName(std::string_view path) {
  std::string_view extension = ExtractFileExt(path);
  if (!extension.empty()) extension.remove_prefix(1);
  return ParseOutputFormat(extension).value_or(OutputFormat::kBmp);
}

std::optional<OutputFormat> ParseOutputFormat(std::string_view text) {
  for (const FormatName& f : kFormats)
    if (SameTextAscii(text, f.name)) return f.format;
  return std::nullopt;
}

std::string_view SaveExtension(OutputFormat format) {
  for (const FormatName& f : kFormats)
    if (f.format == format) return f.name;
  return "bmp";
}

}  // namespace kevrale::cli

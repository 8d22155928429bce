#include "cli/OutputFormat.h"

#include "platform/FileName.h"

namespace kevrale::cli {

namespace {

struct FormatName {
  OutputFormat format;
  std::string_view name;  // the value of --format and the extension
};

constexpr FormatName kFormats[] = {
    {OutputFormat::kBmp, "bmp"},
    {OutputFormat::kSvg, "svg"},
};

}  // namespace

OutputFormat OutputFormatOfName(std::string_view path) {
  std::string_view extension = ExtractFileExt(path);
  if (!extension.empty()) extension.remove_prefix(1);
  const std::optional<OutputFormat> format = ParseOutputFormat(extension);
  return format.value_or(OutputFormat::kBmp);
}

std::optional<OutputFormat> ParseOutputFormat(std::string_view text) {
  for (const FormatName& f : kFormats)
    if (SameTextAscii(text, f.name)) return f.format;
  return std::nullopt;
}

std::string_view SaveExtension(OutputFormat format) {
  return format == OutputFormat::kSvg ? ".svg" : ".bmp";
}

}  // namespace kevrale::cli

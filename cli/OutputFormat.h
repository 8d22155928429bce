// The kinds of file that kevrale-thin saves a result as.
#pragma once

#include <optional>
#include <string_view>

namespace kevrale::cli {

enum class OutputFormat { kBmp, kSvg };

// The format that an output name asks for by its extension, compared
// without regard to case: ".svg" gives SVG, any other name BMP.
OutputFormat OutputFormatOfName(std::string_view path);

// The value of --format ("bmp", "svg", in any case); nullopt otherwise.
std::optional<OutputFormat> ParseOutputFormat(std::string_view text);

// The extension of a save name beside the source, dot included.
std::string_view SaveExtension(OutputFormat format);

}  // namespace kevrale::cli

// The kinds of file that kevrale-thin saves a result as: the raster formats
// of the picture layer, and the SVG of the centre lines.
#pragma once

#include <optional>
#include <string_view>

namespace kevrale::cli {

enum class OutputFormat { kBmp, kPng, kTiff, kSvg };

// The format that an output name asks for by its extension, compared
// without regard to case: ".png", ".tif" or ".tiff", ".svg"; any other
// name BMP.
OutputFormat OutputFormatOfName(std::string_view path);

// The value of --format ("bmp", "png", "tif", "svg", in any case; "tiff"
// too); nullopt otherwise.
std::optional<OutputFormat> ParseOutputFormat(std::string_view text);

// The extension, without its dot, of a save name beside the source.
std::string_view SaveExtension(OutputFormat format);

}  // namespace kevrale::cli

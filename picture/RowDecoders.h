// The row sources of the formats that the bundled plug-ins decode, each
// beside its codec (ImageRowSource.h says what they give).
#pragma once

#include <memory>
#include <optional>

#include "picture/ImageRowSource.h"

namespace kevrale {

std::unique_ptr<ImageRowSource> OpenPngRowSource(TStream& stream, const TLoadLimits& limits);
std::unique_ptr<ImageRowSource> OpenTiffRowSource(TStream& stream, const TLoadLimits& limits);
std::unique_ptr<ImageRowSource> OpenJpegRowSource(TStream& stream, const TLoadLimits& limits);

std::optional<SourceFacts> ReadPngFacts(TStream& stream);
std::optional<SourceFacts> ReadTiffFacts(TStream& stream);
std::optional<SourceFacts> ReadJpegFacts(TStream& stream);

}  // namespace kevrale

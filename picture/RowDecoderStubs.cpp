#include "picture/RowDecoders.h"
namespace kevrale {
std::unique_ptr<ImageRowSource> OpenPngRowSource(TStream&, const TLoadLimits&) {
  return nullptr;
}
std::unique_ptr<ImageRowSource> OpenTiffRowSource(TStream&, const TLoadLimits&) {
  return nullptr;
}
std::unique_ptr<ImageRowSource> OpenJpegRowSource(TStream&, const TLoadLimits&) {
  return nullptr;
}
std::optional<SourceFacts> ReadPngFacts(TStream&) {
  return std::nullopt;
}
std::optional<SourceFacts> ReadTiffFacts(TStream&) {
  return std::nullopt;
}
std::optional<SourceFacts> ReadJpegFacts(TStream&) {
  return std::nullopt;
}
}  // namespace kevrale

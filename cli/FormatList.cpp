#include "cli/FormatList.h"

namespace kevrale::cli {

std::string FormatListText(const std::vector<TFileFormat>& registry) {
  std::string text;
  for (auto it = registry.rbegin(); it != registry.rend(); ++it) {
    text += it->Extension;
    text += '\t';
    text += it->Description;
    text += '\t';
    text += it->Origin.empty() ? std::string("(built in)") : it->Origin;
    text += '\n';
  }
  return text;
}

}  // namespace kevrale::cli

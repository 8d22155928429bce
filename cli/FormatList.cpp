#include "cli/FormatList.h"

namespace kevrale::cli {

std::string FormatListText(const std::vector<TRegisteredFormat>& formats) {
  std::string text;
  for (const TRegisteredFormat& format : formats) {
    text += format.Extension;
    text += '\t';
    text += format.Description;
    text += '\t';
    text += format.PluginFile.empty() ? std::string("(built in)") : format.PluginFile;
    text += '\n';
  }
  return text;
}

}  // namespace kevrale::cli

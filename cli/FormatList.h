// The text of `kevrale-thin --formats`.
#pragma once

#include <string>
#include <vector>

#include "plugins/ProgramPluginHost.h"

namespace kevrale::cli {

// One line an entry, in the given order: the extension, its description and
// the plug-in file that reads it ("(built in)" for the program's own kinds),
// separated by tabs so that scripts can cut the columns.
std::string FormatListText(const std::vector<TRegisteredFormat>& formats);

}  // namespace kevrale::cli

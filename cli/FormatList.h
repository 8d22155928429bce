// The text of `kevrale-thin --formats`.
#pragma once

#include <string>
#include <vector>

#include "picture/TPicture.h"

namespace kevrale::cli {

// One line an entry of the format registry (oldest first as the registry
// keeps it), printed newest first, the order in which an extension is
// looked up: the extension, its description and the plug-in file that
// reads it ("(built in)" for the program's own kinds), separated by tabs so
// that scripts can cut the columns.
std::string FormatListText(const std::vector<TFileFormat>& registry);

}  // namespace kevrale::cli

// The text of `kevrale-thin --formats`.
#pragma once

#include <string>
#include <vector>

#include "picture/TPicture.h"

namespace kevrale {
class TSPIs;
}

namespace kevrale::cli {

// One line an entry of the format registry (oldest first as the registry
// keeps it), printed newest first, the order in which an extension is
// looked up: the extension, its description and the plug-in file that
// reads it ("(built in)" for the program's own kinds), separated by tabs so
// that scripts can cut the columns; a Windows plug-in has a fourth column
// with its machine type ("Windows AMD64", "Windows i386"). Then one line
// per library that `host` could not use: "(skipped)", the reason and the
// file. With a host, a first line "(confinement)" says what confines the
// plug-in processes on this system (PluginConfinementText).
std::string FormatListText(const std::vector<TFileFormat>& registry, const TSPIs* host = nullptr);

// What confines the plug-in processes here, in one line.
std::string PluginConfinementText();

}  // namespace kevrale::cli

// Thinning one image file from the command line: load, thin, save.
#pragma once

#include <exception>
#include <string>

#include "cli/Options.h"

namespace kevrale::cli {

// Loads `source` through the picture's format registry, thins it with the
// options' colours, tolerance and surround and saves the result as BMP to
// `destination`. Raises the
// picture's errors; raises Exception with the width message when the
// picture is too wide, without writing anything.
void ThinImageFile(const std::string& source, const std::string& destination,
                   const Options& options);

// Multi-line text of a message (its carriage returns as line breaks).
std::string ForTerminal(const std::string& message);

// An error as the command line reports it: the program's message, then
// what the system said (a file that cannot be opened or created) or what
// each reader answered (a picture that nothing decodes).
std::string DescribeError(const std::exception& error);

}  // namespace kevrale::cli

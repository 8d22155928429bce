// Thinning one image file from the command line: load, thin, save.
#pragma once

#include <string>

#include "cli/Options.h"

namespace kevrale::cli {

// Loads `source` through the picture's format registry, thins it with the
// options' colours and saves the result to `destination` in the format its
// extension names ("-": BMP to standard output). Raises the picture's
// errors; raises Exception with the width message when the picture is too
// wide, without writing anything.
void ThinImageFile(const std::string& source, const std::string& destination,
                   const Options& options);

// The name standing for standard output in place of an output file.
inline constexpr const char* kStandardOutputName = "-";

}  // namespace kevrale::cli

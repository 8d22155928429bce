// The plug-in host of kevrale-thin, made as the desktop program makes it,
// with the time limit of the command line.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/Options.h"
#include "plugins/TSPIs.h"

namespace kevrale::cli {

// Creates the host and searches the plug-ins. While Kevrale's Wine prefix
// is made (the first use of a Windows plug-in) one line says so on
// `messages`; afterwards each library that could not be used gets a
// warning line there, and the program goes on without it.
std::unique_ptr<TSPIs> StartPluginHost(const Options& options, FILE* messages);

// "kevrale-thin: warning: " and the skipped library's message and reason,
// one line a library, naming its file once: "FILE: " leads where the
// message does not hold the name.
std::string SkippedWarnings(const std::vector<TSPISkipped>& skipped);

// The message and the reason of a skipped library, the reason without the
// file name that the loader puts before it.
std::string SkippedText(const TSPISkipped& skipped);

}  // namespace kevrale::cli

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

// "kevrale-thin: warning: FILE: REASON", one line a skipped library.
std::string SkippedWarnings(const std::vector<TSPISkipped>& skipped);

}  // namespace kevrale::cli

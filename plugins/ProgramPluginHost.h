// The plug-in host as both front ends set it up.
#pragma once

#include <memory>

#include "plugins/TSPIs.h"

namespace kevrale {

// A host with the program's settings: searches the Susie plug-in folder and
// the program's folder, no preview, MacBinary on, AutoSearch on. It has not
// searched yet. ESPIDupCreateSPIs while another host lives.
std::unique_ptr<TSPIs> NewProgramPluginHost();

// NewProgramPluginHost followed by its Loaded step, which searches "*.spi".
// An error of the search (ESPIInvalidAPI for a plug-in that lacks an entry
// point) goes to the caller; the host is then discarded. A caller that wants
// to keep the plug-ins loaded before the error calls Loaded itself.
std::unique_ptr<TSPIs> CreateProgramPluginHost();

}  // namespace kevrale

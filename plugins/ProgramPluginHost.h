// The plug-in host as both front ends set it up, and the format list that
// the command line prints.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "picture/TGraphic.h"
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

// One entry of the picture's format registry.
struct TRegisteredFormat {
  std::string Extension;  // lower case, without the dot
  std::string Description;
  TGraphicClass GraphicClass = nullptr;
  std::string PluginFile;  // the plug-in that claimed it; empty for a built-in kind
};

// The format registry, newest entry first (the order in which loading by
// extension looks entries up), each with the plug-in file that `host`
// registered it for. With no host no entry names a plug-in.
std::vector<TRegisteredFormat> RegisteredFormats(const TSPIs* host);

}  // namespace kevrale

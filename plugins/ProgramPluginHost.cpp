#include "plugins/ProgramPluginHost.h"

namespace kevrale {

std::unique_ptr<TSPIs> NewProgramPluginHost() {
  auto host = std::make_unique<TSPIs>();
  host->SearchOptions = TSPISearchOptions{spsSusieDir, spsAppDir};
  host->GraphicPreview = false;
  host->AutoSearch = true;
  host->MacBinary = true;
  return host;
}

std::unique_ptr<TSPIs> CreateProgramPluginHost() {
  std::unique_ptr<TSPIs> host = NewProgramPluginHost();
  host->Loaded();
  return host;
}

}  // namespace kevrale

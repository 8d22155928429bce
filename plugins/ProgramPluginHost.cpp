#include "plugins/ProgramPluginHost.h"

#include <algorithm>

#include "picture/TPicture.h"

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

std::vector<TRegisteredFormat> RegisteredFormats(const TSPIs* host) {
  const std::vector<TFileFormat>& formats = TPicture::FileFormats();
  std::vector<TRegisteredFormat> result;
  result.reserve(formats.size());
  for (auto it = formats.rbegin(); it != formats.rend(); ++it)
    result.push_back({it->Extension, it->Description, it->GraphicClass, {}});
  if (host == nullptr) return result;

  // Entries are only ever appended or withdrawn, so a registration's entry
  // lies at or below the place it was made at, and the host's entries keep
  // their order. Match from the newest: each registration takes the newest
  // entry of the same content at or below its place and below the entry
  // that the next newer registration took.
  const auto same = [](const TFileFormat& f, const TSPIRegistration& r) {
    return f.Extension == r.Extension && f.Description == r.Description &&
           f.GraphicClass == r.GraphicClass;
  };
  const std::vector<TSPIRegistration>& registrations = host->Registrations();
  size_t limit = formats.size();  // entries at `limit` and above are taken
  for (auto r = registrations.rbegin(); r != registrations.rend() && limit > 0; ++r) {
    size_t i = std::min(r->RegistryIndex + 1, limit);
    while (i > 0 && !same(formats[i - 1], *r)) --i;
    if (i == 0) continue;  // withdrawn
    result[formats.size() - i].PluginFile = r->PluginFile;
    limit = i - 1;
  }
  return result;
}

}  // namespace kevrale

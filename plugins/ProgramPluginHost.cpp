#include "plugins/ProgramPluginHost.h"

#include "ipc/PluginInfoCache.h"
#include "ipc/PluginProcessErrors.h"
#include "platform/Folders.h"
#include "plugins/ProcessSpiLibrary.h"
#include "plugins/SPIExceptions.h"

namespace kevrale {

namespace {

std::string ProgramFolderOf(const ProgramPluginSettings& settings) {
  return settings.program_folder.empty() ? ProgramFolder() : settings.program_folder;
}

// Makes each module in plug-in processes. A process that cannot be started,
// or fails while the module reads its information, makes the library
// unusable (ESPIInvalidSPI with the process's message).
TSPIModuleFactory ProcessModuleFactory(const ProgramPluginSettings& settings) {
  PluginProcessOptions options;
  options.program_folder = ProgramFolderOf(settings);
  options.time_limit_seconds = settings.time_limit_seconds;
  options.wine = settings.wine;
  options.confine = settings.confine_plugins;
  const auto cache = std::make_shared<const PluginInfoCache>(
      settings.cache_folder.empty() ? PluginInfoCache::DefaultFolder() : settings.cache_folder);
  return [options, cache](const std::string& file_name) -> std::unique_ptr<TSPI> {
    const SpiSource source(file_name, [&](const std::string& name) {
      return ProcessSpiLibrary::Open(name, options, cache);
    });
    // What a Windows plug-in answered is kept, also when its kind lacks an
    // entry point: the next start skips it again without starting Wine.
    const auto store = [&source] {
      if (const auto* library = dynamic_cast<const ProcessSpiLibrary*>(source.Opened().get()))
        library->StoreInCache();
    };
    try {
      std::unique_ptr<TSPI> module = LoadSPI(source);
      store();
      return module;
    } catch (const ESPIInvalidAPI&) {
      store();
      throw;
    } catch (const EPluginProcessError& e) {
      // A plug-in that hangs or crashes while it is asked costs one start.
      if (dynamic_cast<const EPluginNoAnswer*>(&e) || dynamic_cast<const EPluginCrashed*>(&e))
        if (const auto* library = dynamic_cast<const ProcessSpiLibrary*>(source.Opened().get()))
          library->StoreFailure(e.Message());
      throw ESPIInvalidSPI(e.Message());  // the message says why
    }
  };
}

}  // namespace

std::string BundledPluginFolder(const std::string& program_folder) {
  return program_folder + "/plugins";
}

std::unique_ptr<TSPIs> NewProgramPluginHost(const ProgramPluginSettings& settings) {
  auto host = std::make_unique<TSPIs>();
  host->SearchOptions = TSPISearchOptions{spsSusieDir, spsAppDir};
  host->GraphicPreview = false;
  host->AutoSearch = true;
  host->MacBinary = true;
  if (!settings.program_folder.empty()) host->SetAppFolder(settings.program_folder);
  host->ModuleFactory = ProcessModuleFactory(settings);
  return host;
}

std::unique_ptr<TSPIs> CreateProgramPluginHost(const ProgramPluginSettings& settings) {
  std::unique_ptr<TSPIs> host = NewProgramPluginHost(settings);
  TSPIModuleFactory in_processes = std::move(host->ModuleFactory);
  host->ModuleFactory = nullptr;
  host->Search(BundledPluginFolder(ProgramFolderOf(settings)) + "/*.spi");
  host->ModuleFactory = std::move(in_processes);
  host->Loaded();
  return host;
}

}  // namespace kevrale

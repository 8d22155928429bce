// The plug-in host as both front ends set it up. The bundled plug-ins, which
// are installed with the program and reentrant, load into this process from
// a folder of their own before anything else; the places of the search
// (the Susie plug-in folder, then the program's folder) follow, and their
// plug-ins run in plug-in processes, so that one that crashes, hangs or is
// not reentrant harms only its process. Being loaded later, a plug-in of
// those places is asked before a bundled one that claims the same
// extension.
#pragma once

#include <memory>
#include <string>

#include "ipc/WineSetup.h"
#include "plugins/TSPIs.h"

namespace kevrale {

struct ProgramPluginSettings {
  // The program's folder: the place spsAppDir names, the folder of the
  // runner and the bridges, and of the bundled plug-ins ("plugins" in it).
  // Empty: the folder of the running program.
  std::string program_folder;
  // Seconds a plug-in process may take between two of its messages; 0: no
  // limit.
  int time_limit_seconds = 60;
  // Where the answers of Windows plug-ins are cached; empty:
  // PluginInfoCache::DefaultFolder().
  std::string cache_folder;
  // The Wine loaders and prefix of Windows plug-ins, and the hook told
  // while the prefix is made (some seconds), on the thread that starts a
  // Windows plug-in.
  WineOptions wine;
  // Whether Linux plug-in processes are confined (PluginProcessOptions).
  bool confine_plugins = true;
};

// The folder of the bundled plug-ins within the program's folder.
std::string BundledPluginFolder(const std::string& program_folder);

// A host with the program's settings: searches the Susie plug-in folder and
// the program's folder, no preview, MacBinary on, AutoSearch on, and makes
// the modules of the libraries it finds in plug-in processes. It has not
// searched yet. ESPIDupCreateSPIs while another host lives.
std::unique_ptr<TSPIs> NewProgramPluginHost(const ProgramPluginSettings& settings = {});

// NewProgramPluginHost; the bundled plug-ins loaded into this process; then
// its Loaded step, which searches "*.spi". A library that cannot be used is
// skipped (TSPIs::Skipped).
std::unique_ptr<TSPIs> CreateProgramPluginHost(const ProgramPluginSettings& settings = {});

}  // namespace kevrale

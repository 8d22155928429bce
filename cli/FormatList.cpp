#include "cli/FormatList.h"

#include <map>

#include "cli/ImageRun.h"
#include "cli/PluginStart.h"
#include "cli/TerminalText.h"
#include "platform/Confinement.h"
#include "plugins/ProcessSpiLibrary.h"
#include "plugins/TSPIs.h"

namespace kevrale::cli {

namespace {

// The machine type of every plug-in file that is a Windows DLL.
std::map<std::string, std::string> WindowsMachines(const TSPIs* host) {
  std::map<std::string, std::string> machines;
  if (host == nullptr) return machines;
  for (int i = 0; i < host->Count(); ++i) {
    const auto* library = dynamic_cast<const ProcessSpiLibrary*>(&host->Items(i).Library());
    if (library != nullptr && library->Machine().kind != PeMachine::Kind::NotPe)
      machines[library->FileName()] = PeMachineName(library->Machine());
  }
  return machines;
}

// A text on one line: the columns are split by tabs and lines by line ends.
// Plug-ins write the descriptions and name the files: they are escaped too.
std::string OneLine(const std::string& text, std::string_view name = {}) {
  std::string line = ForTerminal(text, {name});
  for (char& c : line)
    if (c == '\n' || c == '\t') c = ' ';
  return line;
}

}  // namespace

std::string PluginConfinementText() {
  return "Linux plug-in processes: " + ConfinementSummary() +
         "; Windows plug-in processes: DLLs from the system folder and the plug-in's own only, "
         "no network sockets, writes only in Wine's prefix and the temporary folder" +
         std::string(LandlockAbi() > 0 ? "" : " (no Landlock: writes anywhere)");
}

std::string FormatListText(const std::vector<TFileFormat>& registry, const TSPIs* host) {
  const std::map<std::string, std::string> machines = WindowsMachines(host);
  std::string text;
  if (host != nullptr) text = "(confinement)\t" + PluginConfinementText() + '\n';
  for (auto it = registry.rbegin(); it != registry.rend(); ++it) {
    text += OneLine(it->Extension);
    text += '\t';
    text += OneLine(it->Description);
    text += '\t';
    text += it->Origin.empty() ? std::string("(built in)") : OneLine(it->Origin, it->Origin);
    if (const auto machine = machines.find(it->Origin); machine != machines.end())
      text += '\t' + machine->second;
    text += '\n';
  }
  if (host != nullptr)
    for (const TSPISkipped& skipped : host->Skipped())
      text += "(skipped)\t" +
              OneLine(std::string(WithoutLeadingName(SkippedText(skipped), skipped.FileName)),
                      skipped.FileName) +
              '\t' + OneLine(skipped.FileName, skipped.FileName) + '\n';
  return text;
}

}  // namespace kevrale::cli

#include "cli/PluginStart.h"

#include "cli/ImageRun.h"
#include "cli/TerminalText.h"
#include "plugins/ProgramPluginHost.h"

namespace kevrale::cli {

std::string SkippedText(const TSPISkipped& skipped) {
  // The loader's reason begins with the file's name, which the message holds.
  const std::string_view reason = WithoutLeadingName(skipped.Reason, skipped.FileName);
  return reason.empty() ? skipped.Message : skipped.Message + ": " + std::string(reason);
}

std::string SkippedWarnings(const std::vector<TSPISkipped>& skipped) {
  std::string text;
  for (const TSPISkipped& s : skipped) {
    std::string line = SkippedText(s);
    if (line.find(s.FileName) == std::string::npos) line = s.FileName + ": " + line;
    text += "kevrale-thin: warning: " + ForTerminal(line, {s.FileName}) + "\n";
  }
  return text;
}

std::unique_ptr<TSPIs> StartPluginHost(const Options& options, FILE* messages) {
  ProgramPluginSettings settings;
  settings.time_limit_seconds = options.plugin_timeout;
  settings.wine.on_prefix_creation = [messages](bool making) {
    if (!making) return;
    const std::string prefix = DefaultWinePrefix();
    std::fprintf(messages,
                 "kevrale-thin: making the Wine prefix %s for Windows plug-ins (once; this "
                 "takes some seconds)\n",
                 Printable(prefix).c_str());
    std::fflush(messages);
  };
  std::unique_ptr<TSPIs> host = CreateProgramPluginHost(settings);
  std::fputs(SkippedWarnings(host->Skipped()).c_str(), messages);
  return host;
}

}  // namespace kevrale::cli

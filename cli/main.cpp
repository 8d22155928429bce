// kevrale-thin: the headless front end. Thins image files with the same
// picture model and engine as the desktop program.
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "cli/FormatList.h"
#include "cli/ImageRun.h"
#include "cli/ListRun.h"
#include "cli/Options.h"
#include "cli/PluginStart.h"
#include "cli/TerminalText.h"
#include "ipc/PluginProcessGroups.h"
#include "picture/TPicture.h"
#include "platform/Confinement.h"
#include "platform/Exception.h"
#include "platform/SaveFileStream.h"
#include "platform/TemporaryFiles.h"
#include "platform/Version.h"
#include "plugins/SPIBitmapRegistration.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// `text` is ready for the terminal (names escaped).
void PrintError(const std::string& text) {
  std::fprintf(stderr, "kevrale-thin: %s\n", text.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kevrale;
  using namespace kevrale::cli;

  Options options;
  try {
    options = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const UsageError& e) {
    std::fprintf(stderr, "kevrale-thin: %s\n\n%s", ForTerminal(e.message).c_str(), kUsage);
    return kExitUsage;
  }
  if (options.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (options.version) {
    std::puts(kVersionText);
    return 0;
  }

  // Before the list mode's own handlers, which hand a second signal on to
  // this one: a named temporary file of a save never outlives the process.
  InstallTemporaryFileCleanup();
  // A signal that ends the program ends every plug-in process first, and
  // whatever those started.
  EndPluginProcessesOnSignals();
  // No plug-in process (nor anything else of the user's) reads or writes
  // this process's memory through /proc or ptrace.
  MakeUndumpable();

  // The same plug-in host as the desktop program's, searched before anything
  // is loaded, so that both open the same formats. A library that cannot be
  // used is skipped with a warning.
  SPIBitmapRegistration plugin_graphic;
  std::unique_ptr<TSPIs> host;
  try {
    host = StartPluginHost(options, stderr);
  } catch (const Exception& e) {
    PrintError(std::string(e.ClassName()) + ": " + ErrorText(e));
    return kExitFailure;
  } catch (const std::exception& e) {
    PrintError(ErrorText(e));
    return kExitFailure;
  }

  if (options.formats) {
    std::fputs(FormatListText(TPicture::FileFormats(), host.get()).c_str(), stdout);
    return 0;
  }
  if (options.list) return RunListMode(options);
  // Standard output under a name of its own is written as "-" is: where it
  // stands, never replaced by a new file.
  if (options.output && *options.output != kStandardOutputName &&
      TSaveFileStream::NamesStandardOutput(*options.output))
    options.output = kStandardOutputName;

  int status = 0;
  for (const std::string& image : options.images) {
    const std::string destination = DestinationFor(image, options);
    try {
      ThinImageFile(image, destination, options);
    } catch (const std::exception& e) {
      // Several images may be given: say which one failed.
      PrintError(NamedText(image, ErrorText(e, {image, destination})));
      status = kExitFailure;
    }
  }
  return status;
}

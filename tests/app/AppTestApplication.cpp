// The desktop program's windows run in its own application object, with the
// plug-in bitmap set as the kind the plug-in host registers, as at start-up.
// The test program lives in the build's program folder, as the program does,
// so that the main window's plug-in search finds the bundled plug-ins there.
#include <gtest/gtest.h>

#include "GuiTestMain.h"
#include "app/TApplication.h"
#include "plugins/SPIBitmapRegistration.h"

namespace kevrale::test {

int RunInApplication(int& argc, char** argv) {
  SPIBitmapRegistration plugin_graphic;
  TApplication application(argc, argv);
  return RUN_ALL_TESTS();
}

}  // namespace kevrale::test

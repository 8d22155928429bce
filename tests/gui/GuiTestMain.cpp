// The window tests run on one TApplication, on Qt's offscreen platform. The
// test program lives in the build's program folder, as the program does, so
// that the main window's plug-in search finds the bundled plug-ins there; a
// configuration folder that does not exist keeps any Susie folder setting
// of the user's out of the tests.
#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

#include "app/TApplication.h"
#include "plugins/SPIBitmapRegistration.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // Listing the tests (CTest's discovery at build time) needs no windows.
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--gtest_list_tests") == 0) return RUN_ALL_TESTS();
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv("XDG_CONFIG_HOME", "/nonexistent/kevrale-tests", 1);
  kevrale::SPIBitmapRegistration plugin_graphic;
  kevrale::TApplication application(argc, argv);
  return RUN_ALL_TESTS();
}

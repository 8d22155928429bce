// The window tests run on Qt's offscreen platform unless a test script
// chooses another one (the X11 tests run on Xvfb). A configuration folder
// that does not exist keeps any Susie folder setting of the user's out of
// the tests.
#include "GuiTestMain.h"

#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // Listing the tests (CTest's discovery at build time) needs no windows.
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--gtest_list_tests") == 0) return RUN_ALL_TESTS();
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv("XDG_CONFIG_HOME", "/nonexistent/kevrale-tests", 1);
  return kevrale::test::RunInApplication(argc, argv);
}

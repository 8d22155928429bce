// The desktop layer needs no more of the program than a widget application.
#include <gtest/gtest.h>

#include <QApplication>

#include "GuiTestMain.h"

namespace kevrale::test {

int RunInApplication(int& argc, char** argv) {
  QApplication application(argc, argv);
  return RUN_ALL_TESTS();
}

}  // namespace kevrale::test

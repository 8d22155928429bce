// The About box and the link label need no more of the program than a
// widget application with the program's font, which every window of the
// program inherits.
#include <gtest/gtest.h>
#include <QApplication>

#include "GuiTestMain.h"
#include "desktop/UiFont.h"

namespace kevrale::test {

int RunInApplication(int& argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setFont(UiFont(12));
  return RUN_ALL_TESTS();
}

}  // namespace kevrale::test

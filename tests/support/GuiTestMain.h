// The start of every window test program: GuiTestMain.cpp holds main(),
// which prepares the process and then hands over to the test program's own
// RunInApplication, which makes the application that its windows need and
// runs the tests inside it.
#pragma once

namespace kevrale::test {

// Defined once by each window test program.
int RunInApplication(int& argc, char** argv);

}  // namespace kevrale::test

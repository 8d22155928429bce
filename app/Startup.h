// The start-up frame: the windows are created, then the event loop runs.
#pragma once

#include <functional>

namespace kevrale {

// Calls `create` to make the windows and then `run` for the event loop. An
// error raised while the windows are made is not a command's error: it is
// shown in the "Application Error" box, naming its class and message, and
// the program ends with status 1 without running the event loop.
int RunStartup(const std::function<void()>& create, const std::function<int()>& run);

}  // namespace kevrale

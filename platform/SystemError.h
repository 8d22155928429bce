// The system's own text for an errno value, as "No space left on device".
#pragma once

#include <string>

namespace kevrale {

// strerror's text for `error`, safe to call from several threads at once;
// empty for 0.
std::string SystemErrorText(int error);

}  // namespace kevrale

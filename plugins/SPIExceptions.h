// The errors of the plug-in modules and of the plug-in host. Those that a
// plug-in process raises as well (ESPIFOpenErrorSPI, ESPIInvalidAPI) come
// with the process errors.
#pragma once

#include "ipc/PluginProcessErrors.h"
#include "platform/Exception.h"

namespace kevrale {

// A library that is not a usable plug-in; the host skips it like one that
// cannot be loaded.
KEVRALE_DECLARE_EXCEPTION(ESPIInvalidSPI, Exception);
// A second plug-in host while one is alive.
KEVRALE_DECLARE_EXCEPTION(ESPIDupCreateSPIs, Exception);
// An index outside the host's module list.
KEVRALE_DECLARE_EXCEPTION(EListError, Exception);

// The message of EDecodeFailed when no plug-in (nor the BMP reader) decoded
// a picture.
inline constexpr char kCouldNotDecode[] = "Susie Plugins could not decode";

}  // namespace kevrale

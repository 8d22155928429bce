// The errors of the plug-in modules and of the plug-in host.
#pragma once

#include "platform/Exception.h"

namespace kevrale {

// A plug-in library that cannot be loaded.
KEVRALE_DECLARE_EXCEPTION(ESPIFOpenErrorSPI, Exception);
// A plug-in that lacks an entry point its kind requires, or a call of an
// entry point that the plug-in does not export.
KEVRALE_DECLARE_EXCEPTION(ESPIInvalidAPI, Exception);
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

// The errors of calling a plug-in: one that cannot be loaded or lacks an
// entry point, and those of a plug-in run in a process of its own. Each
// message of the latter names the plug-in file; the caller adds the picture it was loading.
// Reason() holds what happened without the file: "signal 11: Segmentation fault", "60 s" (the time
// limit), or why the process could not be started.
#pragma once

#include "platform/Exception.h"

namespace kevrale {

// A plug-in library that cannot be loaded.
KEVRALE_DECLARE_EXCEPTION(ESPIFOpenErrorSPI, Exception);
// A plug-in that lacks an entry point its kind requires, or a call of an
// entry point that the plug-in does not export.
KEVRALE_DECLARE_EXCEPTION(ESPIInvalidAPI, Exception);

// The base of the three below.
KEVRALE_DECLARE_EXCEPTION(EPluginProcessError, Exception);
// The process could not be started, or did not come up: the program or Wine
// is missing, the machine cannot run it, or it ended before it was ready.
KEVRALE_DECLARE_EXCEPTION(EPluginStartFailed, EPluginProcessError);
// The process ended in the middle of a call, or broke the protocol.
KEVRALE_DECLARE_EXCEPTION(EPluginCrashed, EPluginProcessError);
// The process gave no answer within the time limit and was ended.
KEVRALE_DECLARE_EXCEPTION(EPluginNoAnswer, EPluginProcessError);

}  // namespace kevrale

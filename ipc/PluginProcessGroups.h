// The process groups of the plug-in processes that run now. Each plug-in
// process leads a group of its own, and everything it starts stays in it,
// so that ending the group ends all of it. The table is fixed and lock-free
// so that a signal handler may end every group before the program goes.
#pragma once

#include <sys/types.h>

namespace kevrale {

// Adds or removes a group; a full table leaves a group unregistered (the
// parent-death signal still ends its leader).
void RegisterPluginProcessGroup(pid_t group);
void UnregisterPluginProcessGroup(pid_t group);

// Kills every registered group with SIGKILL. Safe in a signal handler.
void KillPluginProcesses();

// Kills every registered group, and from now on each group as soon as it
// registers, so that an interrupted run sees every plug-in call end at once
// instead of waiting for an answer or a time limit. Safe in a signal handler.
void EndPluginProcessesNow();

// Installs, once, handlers of SIGINT, SIGTERM and SIGHUP that end every
// plug-in process and then hand the signal on to the action that was
// installed before (the default one ends the program as the signal would).
void EndPluginProcessesOnSignals();

}  // namespace kevrale

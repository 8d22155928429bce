// The child processes that ChildProcess started and has not yet reaped, so
// that an interrupted run can end them all at once instead of waiting for
// each to answer or to reach its time limit. A process is forgotten only
// as it is reaped, under the same lock as the kill, so that a kill never
// reaches a process id that has been given to another process meanwhile.
#pragma once

#include <sys/types.h>

namespace kevrale {

// Kills (SIGKILL) every child process that runs, and from now on each one
// as soon as it is started: their callers see them end and fail at once.
// Safe from any thread; not from a signal handler.
void EndChildProcessesNow();

// For ChildProcess: a started process is added at once, and reaped only
// through ReapChild (waitpid's arguments and result).
void AddRunningChild(pid_t pid);
pid_t ReapChild(pid_t pid, int* status, int options);

}  // namespace kevrale

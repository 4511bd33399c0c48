// Finding the processes of a posix container (ProcessLaunch.h) in /proc: the members of its
// process group, and the processes of this account whose environment carries the container's
// mark (KALVOR_CONTAINER=<name>), which reaches the daemons that left the group.
//
// Every file of a process is read through one descriptor of its /proc folder, so a process that
// ends meanwhile answers nothing rather than its successor under the same number. Environments
// are another process's data: read in bounded pieces, never kept whole.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace Kalvor {

struct ContainerScan {
    std::vector<pid_t> inGroup; // members of the group
    std::vector<pid_t> marked;  // marked processes outside the group
};

// The live processes (zombies left out, this process never) of the process group `group` (0:
// none) and, when `container` is not empty, the marked ones of this account outside it.
ContainerScan scanContainer(pid_t group, const std::string& container);

// Sends `signal` through a pidfd to `pid` once it is checked that the process the pidfd holds
// runs under this account and carries the mark of `container`. False when it does not (any
// longer), or the signal fails.
bool signalMarked(pid_t pid, const std::string& container, int signal);

// Whether the process ignores SIGTERM (the SigIgn mask of /proc/PID/status): a polite close it
// would never notice, like a WM_CLOSE to a thread without a message queue.
bool ignoresTerminate(pid_t pid);

// The marked environment entry of `container`, "KALVOR_CONTAINER=<container>".
std::string containerMark(const std::string& container);

} // namespace Kalvor

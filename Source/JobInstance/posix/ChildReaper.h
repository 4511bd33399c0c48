// Reaps the children that no job owns any more, so that none is left a zombie.
//
// A job that is destroyed while its child runs hands the child over; a thread of the reaper
// waits on the children's pidfds and reaps each one when it ends. The children that jobs own
// are registered here from their start until their job has taken their status, so that
// reapInherited() (ChildReaper.h) never takes a status that belongs to a job; children handed
// over stay registered until the reaper's thread has reaped them, so their numbers cannot be
// given out again underneath it.
#pragma once

#include "Common/posix/UniqueFd.h"
#include "JobInstance/ChildReaper.h"

#include <functional>
#include <sys/types.h>

namespace Kalvor::ChildReaper {

// Runs `spawn`, which starts one child and returns its pid (0 or less: nothing started), and
// registers the child as owned before any reapInherited() can look at it.
pid_t startOwned(const std::function<pid_t()>& spawn);

// waitpid(pid, &status, options) on an owned child; once it has been reaped (or the system
// reaped it: ECHILD) it is no longer registered. Returns what waitpid returned.
pid_t waitOwned(pid_t pid, int& status, int options);

// Hands an owned child over to the reaper's thread.
void adopt(pid_t pid, UniqueFd pidfd);

} // namespace Kalvor::ChildReaper

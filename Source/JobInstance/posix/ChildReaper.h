// Reaps the children that no job owns any more, so that none is left a zombie.
//
// A job that is destroyed while its child runs hands the child over; a thread of the reaper
// waits on the children's pidfds and reaps each one when it ends. Only children handed over are
// ever reaped, so a child that a live job still owns keeps its exit status for that job.
#pragma once

#include "Common/posix/UniqueFd.h"

#include <sys/types.h>

namespace Kalvor::ChildReaper {

void adopt(pid_t pid, UniqueFd pidfd);

} // namespace Kalvor::ChildReaper

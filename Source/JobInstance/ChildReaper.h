// The supervisor as the parent of last resort of what its programs leave behind.
//
// posix: a daemon forks, its parent exits, and the orphan goes to the nearest "child subreaper"
// among its ancestors (PID 1 when there is none). A subreaper sees those processes (it can
// signal, wait for and count them) and must reap them, or they stay zombies. win32 has no such
// thing: a job object holds the orphans, and an ended process leaves nothing to reap; both
// functions do nothing there.
#pragma once

namespace Kalvor {

// Makes this process the child subreaper of everything it starts (prctl
// PR_SET_CHILD_SUBREAPER); for the rest of its life.
void becomeChildSubreaper();

namespace ChildReaper {

// Reaps every ended child that no live ProcessInstance owns (and that is not already left to
// the reaper's own thread), without ever taking the exit status of a child a job still owns.
// Meant to be called once per pass of the supervisor's loop. A child this process started by
// other means than a ProcessInstance counts as inherited: its status is taken too.
void reapInherited();

} // namespace ChildReaper

} // namespace Kalvor

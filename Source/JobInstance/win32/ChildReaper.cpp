#include "JobInstance/ChildReaper.h"

namespace Kalvor {

// A job object holds what a program leaves running, and an ended process leaves nothing to
// reap: nothing to do on win32.
void becomeChildSubreaper() {}

namespace ChildReaper {

void reapInherited() {}

} // namespace ChildReaper

} // namespace Kalvor

// Where a program named on a command line is found, as CreateProcessA would look for it.
//
// "\" counts as a separator like "/". A name with a separator is taken as it is (relative to the
// current directory); one without is looked for beside the running program, then in the current
// directory, then along PATH. A name ending in ".exe" is tried as written, then without that
// suffix. When nothing is found the name is returned as it is, for the start to fail on.
#pragma once

#include <string>

namespace Kalvor {

std::string findProgramFile(const std::string& name);

} // namespace Kalvor

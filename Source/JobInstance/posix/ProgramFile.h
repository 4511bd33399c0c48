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

// Where the program of a ProcessLaunch is: a name with a separator is taken as it is, relative
// to the current directory; one without is looked for along PATH only (the C library's default
// path when PATH is not set), as execvp does. ".exe" is dropped as above. The result is absolute,
// so that it still holds after the child has changed its directory. A name with a separator
// that is not found is returned (absolute) for the start to fail on; one without: "".
std::string findProgramOnPath(const std::string& name);

} // namespace Kalvor

#include "File/PathSeparator.h"

namespace Kalvor {

const char kPathSeparator = '\\';

} // namespace Kalvor

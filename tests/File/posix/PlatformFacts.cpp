#include "FileTestSupport.h"

#include <cerrno>

namespace Kalvor::Test {

int32_t alreadyExistsError() {
    return EEXIST;
}
bool driveCExists() {
    return false;
}

} // namespace Kalvor::Test

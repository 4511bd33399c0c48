#include "FileTestSupport.h"

#include "Common/win32/Windows.h"

namespace Kalvor::Test {

int32_t alreadyExistsError() {
    return ERROR_ALREADY_EXISTS;
}
bool driveCExists() {
    return true;
}

} // namespace Kalvor::Test

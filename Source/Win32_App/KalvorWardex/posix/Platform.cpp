#include "Win32_App/KalvorWardex/Platform.h"

namespace Kalvor {

std::string executableSuffix() {
    return "";
}

std::string optionMarkers() {
    return "-";
}

} // namespace Kalvor

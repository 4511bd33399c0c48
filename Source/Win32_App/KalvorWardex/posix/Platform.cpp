#include "Win32_App/KalvorWardex/Platform.h"

namespace Kalvor {

std::string executableSuffix() {
    return "";
}

std::string optionMarkers() {
    return "-";
}

std::string registryCommand() {
    return "kalvor-reg";
}

} // namespace Kalvor

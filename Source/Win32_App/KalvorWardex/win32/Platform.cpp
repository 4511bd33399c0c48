#include "Win32_App/KalvorWardex/Platform.h"

namespace Kalvor {

std::string executableSuffix() {
    return ".exe";
}

std::string optionMarkers() {
    return "-/";
}

std::string registryCommand() {
    return "reg";
}

} // namespace Kalvor

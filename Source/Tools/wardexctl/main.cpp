#include "StopSignal.h"
#include "WardexCtl.h"

#include <iostream>

int main(int argc, char** argv) {
    Kalvor::installStopHandlers();
    Kalvor::WardexCtlSettings settings;
    settings.stopRequested = Kalvor::stopRequested;
    return Kalvor::runWardexCtl(std::vector<std::string>(argv + 1, argv + argc), std::cout,
                                std::cerr, settings);
}

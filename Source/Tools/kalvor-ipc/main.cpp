#include "IpcCommand.h"
#include "StopSignal.h"

#include <iostream>

int main(int argc, char** argv) {
    Kalvor::installStopHandlers();
    return Kalvor::runIpcCommand(std::vector<std::string>(argv + 1, argv + argc), std::cout,
                                 std::cerr, Kalvor::stopRequested);
}

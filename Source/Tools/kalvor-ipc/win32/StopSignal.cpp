#include "StopSignal.h"

#include "Common/win32/Windows.h"

#include <atomic>

namespace Kalvor {

namespace {
std::atomic<bool> stopFlag{false};

BOOL WINAPI noteStop(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    stopFlag = true;
    return TRUE;
}
} // namespace

void installStopHandlers() {
    ::SetConsoleCtrlHandler(noteStop, TRUE);
}

bool stopRequested() {
    return stopFlag;
}

} // namespace Kalvor

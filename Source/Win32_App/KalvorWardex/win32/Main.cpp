// The supervisor's entry on win32: a hidden window so that the system can tell it of the end of
// the session, then the supervisor on this thread.
//
// A windowless GUI program: started at log-on it shows no console, and no console can be closed
// under it without its shutdown sequence. What it prints for the operator (--help, the reason it
// ended with -1 or 1) goes to the standard handles it was given, or else to the console of the
// program that started it; with neither it is not printed.
#include "Common/win32/Windows.h"
#include "JobInstance/SessionSignals.h"
#include "Win32_App/KalvorWardex/Platform.h"
#include "Win32_App/KalvorWardex/Supervisor.h"
#include "Win32_App/KalvorWardex/Usage.h"

#include <cstdio>
#include <string>

namespace {

using Kalvor::SessionSignals;
using Kalvor::StopFlag;

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_QUERYENDSESSION:
        SessionSignals::deliver(StopFlag::kSessionEnd);
        PostQuitMessage(0);
        return 1;
    case WM_DESTROY:
        SessionSignals::deliver(StopFlag::kSessionEnd);
        PostQuitMessage(0);
        return 0;
    case WM_QUIT:
        SessionSignals::deliver(StopFlag::kSessionEnd);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

void createHiddenWindow(HINSTANCE instance, HINSTANCE previous) {
    if (!previous) {
        WNDCLASSA windowClass{};
        windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_OWNDC;
        windowClass.lpfnWndProc = windowProcedure;
        windowClass.hInstance = instance;
        windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
        windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW);
        windowClass.lpszMenuName = "GenericAppMenu";
        windowClass.lpszClassName = "GenericAppClass";
        RegisterClassA(&windowClass);
    }
    // Never shown and never addressed: it exists to receive the session messages.
    CreateWindowExA(0, "GenericAppClass", "Kalvor Wardex",
                    WS_OVERLAPPEDWINDOW | WS_VSCROLL | WS_HSCROLL, CW_USEDEFAULT, CW_USEDEFAULT,
                    CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
}

// A GUI program's standard streams are only usable when its starter passed it handles.
void printForOperator(std::FILE* stream, DWORD which, const std::string& text) {
    const HANDLE given = ::GetStdHandle(which);
    if (given == nullptr || given == INVALID_HANDLE_VALUE) {
        if (!::AttachConsole(ATTACH_PARENT_PROCESS) || !std::freopen("CONOUT$", "w", stream))
            return;
    }
    std::fputs(text.c_str(), stream);
    std::fflush(stream);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int) {
    const std::string line = commandLine ? commandLine : "";
    if (Kalvor::asksForHelp(line, Kalvor::optionMarkers())) {
        printForOperator(stdout, STD_OUTPUT_HANDLE, Kalvor::kUsage);
        return 0;
    }
    createHiddenWindow(instance, previous);
    std::string failure;
    const int exitValue = Kalvor::runSupervisor(line, failure);
    if (exitValue != 0)
        printForOperator(stderr, STD_ERROR_HANDLE, Kalvor::exitMessage(exitValue, failure) + "\n");
    return exitValue;
}

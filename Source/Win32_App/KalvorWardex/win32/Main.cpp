// The supervisor's entry on win32: a hidden window so that the system can tell it of the end of
// the session, then the supervisor on this thread.
//
// Built as a console program: under Wine and CTest its exit value and --help text are then
// seen directly; a GUI build would only differ in having no console to print to.
#include "Common/win32/Windows.h"
#include "Win32_App/KalvorWardex/Platform.h"
#include "Win32_App/KalvorWardex/Usage.h"
#include "Win32_App/KalvorWardex/Wardex.h"
#include "Win32_App/KalvorWardex/WardexServices.h"

#include <atomic>
#include <cstdio>
#include <string>

namespace {

std::atomic<bool> systemStop{false};

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_QUERYENDSESSION:
        systemStop.store(true);
        PostQuitMessage(0);
        return 1;
    case WM_DESTROY:
        systemStop.store(true);
        PostQuitMessage(0);
        return 0;
    case WM_QUIT:
        systemStop.store(true);
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

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int) {
    const std::string line = commandLine ? commandLine : "";
    if (Kalvor::asksForHelp(line, Kalvor::optionMarkers())) {
        std::fputs(Kalvor::kUsage, stdout);
        return 0;
    }
    createHiddenWindow(instance, previous);
    int exitValue = 0;
    {
        Kalvor::Wardex wardex("dummy" + line, Kalvor::makeSystemServices(),
                              Kalvor::optionMarkers());
        if (!wardex.initialise())
            exitValue = -1;
        else
            exitValue = wardex.run(systemStop) ? 0 : 1;
    }
    return exitValue;
}

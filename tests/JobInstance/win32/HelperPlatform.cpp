#include "HelperPlatform.h"

#include "Common/win32/Windows.h"

#include <cstdio>

namespace Kalvor::Test {

namespace {

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE) {
        ::PostQuitMessage(kClosedByWindow);
        return 0;
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

uint32_t ownProcessId() {
    return ::GetCurrentProcessId();
}

std::string ownProgramPath() {
    char buffer[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    return std::string(buffer, length < sizeof buffer ? length : 0);
}

void leaveSession() {}

int runWindow(const std::string& ready, uint32_t lifetimeMs) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "KalvorJobHelperWindow";
    if (::RegisterClassA(&windowClass) == 0)
        return 1;
    const HWND window =
        ::CreateWindowExA(0, windowClass.lpszClassName, "job helper", WS_OVERLAPPEDWINDOW, 0, 0,
                          100, 100, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (window == nullptr)
        return 1;
    ::SetTimer(window, 1, lifetimeMs, nullptr);
    const std::string temporary = ready + ".part";
    if (std::FILE* file = std::fopen(temporary.c_str(), "wb")) {
        std::fprintf(file, "%lu", ::GetCurrentProcessId());
        std::fclose(file);
        std::rename(temporary.c_str(), ready.c_str());
    }
    MSG message{};
    while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER)
            return 99;
        // A WM_CLOSE to the thread, not to the window, is not for this program.
        if (message.hwnd != nullptr)
            ::DispatchMessageA(&message);
    }
    ::DestroyWindow(window);
    return static_cast<int>(message.wParam);
}

int sendRawDatagrams(const std::string&, const std::string&, long) {
    return -1;
}

} // namespace Kalvor::Test

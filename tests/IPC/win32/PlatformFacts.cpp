#include "IPCTestSupport.h"

#include "Common/win32/Windows.h"

#include <stdexcept>

namespace Kalvor::Test {

bool slotExists(const std::string& name) {
    const HANDLE slot =
        ::CreateFileA(("\\\\.\\mailslot\\" + name).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (slot == INVALID_HANDLE_VALUE)
        return false;
    ::CloseHandle(slot);
    return true;
}

void sendRawDatagram(const std::string& name, const std::string& bytes) {
    const HANDLE slot =
        ::CreateFileA(("\\\\.\\mailslot\\" + name).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (slot == INVALID_HANDLE_VALUE)
        throw std::runtime_error("mailslot " + name + " not found");
    DWORD written = 0;
    const BOOL ok =
        ::WriteFile(slot, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(slot);
    if (!ok || written != bytes.size())
        throw std::runtime_error("raw datagram to " + name + " not written");
}

bool runningUnderWine() {
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool namedLocksArePrivate() {
    return false;
}

} // namespace Kalvor::Test

#include "SystemErrorProbes.h"

#include "Common/win32/Windows.h"

#include <cstdint>

namespace Kalvor::Test {

namespace {

Provoked whatFailed() {
    const auto native = static_cast<int32_t>(::GetLastError());
    return {native, lastSystemErrorValue()};
}

// CreateFileA's outcome: nothing when it opened the file, else what it failed with.
Provoked openFailure(const std::string& path, DWORD access, DWORD disposition) {
    const HANDLE file = ::CreateFileA(path.c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return whatFailed();
    ::CloseHandle(file);
    return {};
}

} // namespace

Provoked openMissingFile(const std::string& path) {
    return openFailure(path, GENERIC_READ, OPEN_EXISTING);
}

Provoked createExistingFile(const std::string& path) {
    return openFailure(path, GENERIC_WRITE, CREATE_NEW);
}

Provoked createExistingFolder(const std::string& path) {
    if (::CreateDirectoryA(path.c_str(), nullptr))
        return {};
    return whatFailed();
}

// Deleting rather than writing: Wine run by root writes a read-only file, but still refuses to
// delete it. Read-only only while asked, so that the test's folder can be removed afterwards.
Provoked refuseAccess(const std::string& file) {
    if (!::SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY))
        return {};
    Provoked refused;
    if (!::DeleteFileA(file.c_str()))
        refused = whatFailed();
    ::SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    return refused;
}

// A value no handle table hands out this far up.
Provoked closeInvalidHandle() {
    if (::CloseHandle(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7ffffff0))))
        return {};
    return whatFailed();
}

} // namespace Kalvor::Test

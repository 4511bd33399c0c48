#include "LoggerTestSupport.h"

#include "Common/win32/Windows.h"

namespace Kalvor::Test {

// Held open without sharing: every other open fails with a sharing violation.
UnreadableFile::UnreadableFile(const std::string& path) : path_(path) {
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    handle_ = file == INVALID_HANDLE_VALUE ? nullptr : file;
}

UnreadableFile::~UnreadableFile() {
    if (handle_ != nullptr)
        ::CloseHandle(static_cast<HANDLE>(handle_));
}

} // namespace Kalvor::Test

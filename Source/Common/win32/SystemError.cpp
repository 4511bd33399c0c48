#include "Common/SystemError.h"

#include "Common/win32/Windows.h"

namespace Kalvor {

int32_t lastSystemError() { return static_cast<int32_t>(::GetLastError()); }

namespace {

struct Meaning {
    DWORD native;
    std::errc condition;
};

// Mostly as the C runtime turns these numbers into errno values, so that a condition means what
// it means on posix. Only ERROR_INVALID_HANDLE is a bad descriptor: the jobs take
// that one condition as "no such job". Sharing and lock violations are refusals, as a held
// file is to the C runtime. A missing network path is a missing path; only an unreachable
// network is network_unreachable (the mailslot's " - No network" detail).
const Meaning kMeanings[] = {
    {ERROR_FILE_NOT_FOUND, std::errc::no_such_file_or_directory},
    {ERROR_PATH_NOT_FOUND, std::errc::no_such_file_or_directory},
    {ERROR_BAD_PATHNAME, std::errc::no_such_file_or_directory},
    {ERROR_INVALID_DRIVE, std::errc::no_such_file_or_directory},
    {ERROR_BAD_NETPATH, std::errc::no_such_file_or_directory},
    {ERROR_BAD_NET_NAME, std::errc::no_such_file_or_directory},
    {ERROR_MOD_NOT_FOUND, std::errc::no_such_file_or_directory},
    {ERROR_ACCESS_DENIED, std::errc::permission_denied},
    {ERROR_SHARING_VIOLATION, std::errc::permission_denied},
    {ERROR_LOCK_VIOLATION, std::errc::permission_denied},
    {ERROR_INVALID_ACCESS, std::errc::permission_denied},
    {ERROR_CURRENT_DIRECTORY, std::errc::permission_denied},
    {ERROR_WRITE_PROTECT, std::errc::permission_denied},
    {ERROR_PRIVILEGE_NOT_HELD, std::errc::operation_not_permitted},
    {ERROR_ALREADY_EXISTS, std::errc::file_exists},
    {ERROR_FILE_EXISTS, std::errc::file_exists},
    {ERROR_INVALID_HANDLE, std::errc::bad_file_descriptor},
    {ERROR_NOT_ENOUGH_MEMORY, std::errc::not_enough_memory},
    {ERROR_OUTOFMEMORY, std::errc::not_enough_memory},
    {ERROR_SEM_TIMEOUT, std::errc::timed_out},
    {ERROR_TIMEOUT, std::errc::timed_out},
    {WAIT_TIMEOUT, std::errc::timed_out},
    {ERROR_BROKEN_PIPE, std::errc::broken_pipe},
    {ERROR_NO_DATA, std::errc::broken_pipe},
    {ERROR_INVALID_PARAMETER, std::errc::invalid_argument},
    {ERROR_INVALID_NAME, std::errc::invalid_argument},
    {ERROR_NEGATIVE_SEEK, std::errc::invalid_argument},
    {ERROR_DIRECTORY, std::errc::not_a_directory},
    {ERROR_DIR_NOT_EMPTY, std::errc::directory_not_empty},
    {ERROR_NETWORK_UNREACHABLE, std::errc::network_unreachable},
    {ERROR_HOST_UNREACHABLE, std::errc::host_unreachable},
    {ERROR_DISK_FULL, std::errc::no_space_on_device},
    {ERROR_HANDLE_DISK_FULL, std::errc::no_space_on_device},
    {ERROR_TOO_MANY_OPEN_FILES, std::errc::too_many_files_open},
    {ERROR_NOT_SAME_DEVICE, std::errc::cross_device_link},
    {ERROR_BUSY, std::errc::device_or_resource_busy},
    {ERROR_PIPE_BUSY, std::errc::device_or_resource_busy},
    {ERROR_FILENAME_EXCED_RANGE, std::errc::filename_too_long},
    {ERROR_BUFFER_OVERFLOW, std::errc::filename_too_long},
    {ERROR_NOT_SUPPORTED, std::errc::not_supported},
    {ERROR_CALL_NOT_IMPLEMENTED, std::errc::function_not_supported},
    {ERROR_INVALID_FUNCTION, std::errc::function_not_supported},
    {ERROR_OPERATION_ABORTED, std::errc::operation_canceled},
    {ERROR_WAIT_NO_CHILDREN, std::errc::no_child_process},
    {ERROR_NO_PROC_SLOTS, std::errc::resource_unavailable_try_again},
    {ERROR_MAX_THRDS_REACHED, std::errc::resource_unavailable_try_again},
    {ERROR_NOT_READY, std::errc::resource_unavailable_try_again},
    {ERROR_RETRY, std::errc::resource_unavailable_try_again},
    {ERROR_READ_FAULT, std::errc::io_error},
    {ERROR_WRITE_FAULT, std::errc::io_error},
    {ERROR_CRC, std::errc::io_error},
    {ERROR_SEEK, std::errc::io_error},
    {ERROR_BAD_EXE_FORMAT, std::errc::executable_format_error},
    {ERROR_DEV_NOT_EXIST, std::errc::no_such_device},
    {ERROR_NOACCESS, std::errc::bad_address},
};

} // namespace

SystemError systemError(int32_t native) {
    for (const Meaning& meaning : kMeanings) {
        if (meaning.native == static_cast<DWORD>(native))
            return {meaning.condition, native};
    }
    return {std::errc{}, native};
}

SystemError lastSystemErrorValue() {
    return systemError(lastSystemError());
}

std::string systemErrorText(int32_t errorNumber) {
    char buffer[512] = {};
    const DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                         static_cast<DWORD>(errorNumber), 0, buffer, sizeof buffer, nullptr);
    std::string text(buffer, length);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text.empty() ? "Unknown error " + std::to_string(errorNumber) : text;
}

} // namespace Kalvor

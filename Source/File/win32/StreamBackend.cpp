#include "File/StreamBackend.h"

#include "Common/win32/UniqueHandle.h"
#include "Common/win32/Windows.h"

#include <fcntl.h>
#include <io.h>

namespace Kalvor::StreamBackend {

namespace {

struct Opening {
    DWORD access;
    DWORD disposition; // CreateFileA's, as _open chose it for the C flags
    int flags;         // for _open_osfhandle
    const char* letters;
};

// Indexed by BufferedFile mode.
const Opening kOpenings[] = {
    {0, 0, 0, nullptr},
    {GENERIC_READ, OPEN_EXISTING, _O_RDONLY, "rb"},
    {GENERIC_WRITE, CREATE_ALWAYS, 0, "wb"},
    {GENERIC_WRITE, OPEN_ALWAYS, _O_APPEND, "ab"},
    {GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, 0, "r+b"},
    {GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS, 0, "w+b"},
    {GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, _O_APPEND, "a+b"},
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

FileIdentity identityOf(const BY_HANDLE_FILE_INFORMATION& info) {
    return {info.dwVolumeSerialNumber,
            (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

// A pipe, console or device reads without end or blocks: only disk files that are not
// directories are taken.
bool isRegularFile(HANDLE handle, BY_HANDLE_FILE_INFORMATION& info) {
    return ::GetFileType(handle) == FILE_TYPE_DISK && ::GetFileInformationByHandle(handle, &info) &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

} // namespace

// CreateFileA rather than _open, which cannot share deletion. A handle made without security
// attributes is not inherited, as _O_NOINHERIT keeps the descriptor from the C runtime's
// spawn functions.
std::FILE* open(const std::string& path, int32_t mode, bool exclusive) {
    const Opening& opening = kOpenings[mode];
    OpenScope* scope = OpenScope::current();
    const DWORD share =
        scope != nullptr && scope->renamable() ? kShareAll : FILE_SHARE_READ | FILE_SHARE_WRITE;
    UniqueHandle handle(::CreateFileA(path.c_str(), opening.access, share, nullptr,
                                      exclusive ? CREATE_NEW : opening.disposition,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle)
        return nullptr;
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!isRegularFile(handle.get(), info)) {
        ::SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle.get()),
                                     opening.flags | _O_BINARY | _O_NOINHERIT);
    if (fd < 0)
        return nullptr;
    handle.release(); // the descriptor owns it now
    std::FILE* file = ::_fdopen(fd, opening.letters);
    if (!file) {
        ::_close(fd);
        return nullptr;
    }
    if (scope != nullptr)
        scope->setIdentity(identityOf(info));
    return file;
}

bool identityAtPath(const std::string& path, FileIdentity& identity) {
    UniqueHandle handle(::CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!handle || !::GetFileInformationByHandle(handle.get(), &info))
        return false;
    identity = identityOf(info);
    return true;
}

bool openStatus(std::FILE* file, OpenStatus& status) {
    const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file)));
    FILE_STANDARD_INFO info = {};
    if (!::GetFileInformationByHandleEx(handle, FileStandardInfo, &info, sizeof(info)))
        return false;
    status.deleted = info.DeletePending || info.NumberOfLinks == 0;
    status.bytes = info.EndOfFile.QuadPart;
    return true;
}

bool seek(std::FILE* file, int64_t offset, int origin) {
    return ::_fseeki64(file, offset, origin) == 0;
}

int64_t tell(std::FILE* file) {
    return ::_ftelli64(file);
}

bool commit(std::FILE* file) {
    return ::_commit(::_fileno(file)) == 0;
}

} // namespace Kalvor::StreamBackend

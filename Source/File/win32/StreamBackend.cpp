#include "File/StreamBackend.h"

#include "Common/win32/Windows.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

namespace Kalvor::StreamBackend {

namespace {

struct Opening {
    int flags;
    const char* letters;
};

// Indexed by BufferedFile mode.
const Opening kOpenings[] = {
    {0, nullptr},
    {_O_RDONLY, "rb"},
    {_O_WRONLY | _O_CREAT | _O_TRUNC, "wb"},
    {_O_WRONLY | _O_CREAT | _O_APPEND, "ab"},
    {_O_RDWR | _O_CREAT, "r+b"},
    {_O_RDWR | _O_CREAT | _O_TRUNC, "w+b"},
    {_O_RDWR | _O_CREAT | _O_APPEND, "a+b"},
};

// A pipe, console or device reads without end or blocks: only disk files that are not
// directories are taken.
bool isRegularFile(int fd) {
    const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    BY_HANDLE_FILE_INFORMATION info = {};
    return ::GetFileType(handle) == FILE_TYPE_DISK && ::GetFileInformationByHandle(handle, &info) &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

} // namespace

std::FILE* open(const std::string& path, int32_t mode, bool exclusive) {
    const Opening& opening = kOpenings[mode];
    const int flags =
        opening.flags | _O_BINARY | _O_NOINHERIT | (exclusive ? _O_CREAT | _O_EXCL : 0);
    const int fd = ::_open(path.c_str(), flags, _S_IREAD | _S_IWRITE);
    if (fd < 0)
        return nullptr;
    if (!isRegularFile(fd)) {
        ::_close(fd);
        ::SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    std::FILE* file = ::_fdopen(fd, opening.letters);
    if (!file)
        ::_close(fd);
    return file;
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

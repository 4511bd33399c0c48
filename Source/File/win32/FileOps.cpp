// The Windows file calls themselves.
#include "File/FileOps.h"

#include "Common/SystemError.h"
#include "Common/win32/Windows.h"
#include "File/FileOpsBackend.h"
#include "File/win32/FindHandle.h"

namespace Kalvor::FileOps {

namespace {

struct AttributeMapping {
    uint16_t bit;
    DWORD windows;
    bool settable;
};

const AttributeMapping kAttributes[] = {
    {kArchive, FILE_ATTRIBUTE_ARCHIVE, true},      {kCompressed, FILE_ATTRIBUTE_COMPRESSED, false},
    {kDirectory, FILE_ATTRIBUTE_DIRECTORY, false}, {kEncrypted, FILE_ATTRIBUTE_ENCRYPTED, false},
    {kHidden, FILE_ATTRIBUTE_HIDDEN, true},        {kOffline, FILE_ATTRIBUTE_OFFLINE, true},
    {kReadOnly, FILE_ATTRIBUTE_READONLY, true},    {kSystem, FILE_ATTRIBUTE_SYSTEM, true},
    {kTemporary, FILE_ATTRIBUTE_TEMPORARY, true},  {kNormal, FILE_ATTRIBUTE_NORMAL, true},
    {kSparse, FILE_ATTRIBUTE_SPARSE_FILE, false},
};

CalendarFields calendarFields(const FILETIME& time) {
    CalendarFields fields;
    SYSTEMTIME system{};
    if (!::FileTimeToSystemTime(&time, &system))
        return fields;
    fields.year = system.wYear;
    fields.month = system.wMonth;
    fields.day = system.wDay;
    fields.hour = system.wHour;
    fields.minute = system.wMinute;
    fields.second = system.wSecond;
    return fields;
}

} // namespace

bool copyFile(const std::string& source, const std::string& target, bool overwrite) {
    return ::CopyFileA(source.c_str(), target.c_str(), overwrite ? FALSE : TRUE) != 0;
}

bool deleteFile(const std::string& path) {
    return ::DeleteFileA(path.c_str()) != 0;
}

bool createDirectory(const std::string& path) {
    return ::CreateDirectoryA(path.c_str(), nullptr) != 0;
}

bool setAttributes(const std::string& path, uint16_t attributes) {
    DWORD windows = 0;
    for (const AttributeMapping& mapping : kAttributes) {
        if (mapping.settable && (attributes & mapping.bit))
            windows |= mapping.windows;
    }
    // NORMAL is the documented way of clearing every attribute.
    return ::SetFileAttributesA(path.c_str(), windows ? windows : FILE_ATTRIBUTE_NORMAL) != 0;
}

namespace Backend {

int32_t move(const std::string& source, const std::string& target, bool replace) {
    const BOOL moved = replace ? ::MoveFileExA(source.c_str(), target.c_str(),
                                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED |
                                                   MOVEFILE_WRITE_THROUGH)
                               : ::MoveFileA(source.c_str(), target.c_str());
    return moved ? 0 : lastSystemError();
}

std::vector<DirectoryEntry> find(const std::string& searchPath) {
    std::vector<DirectoryEntry> entries;
    WIN32_FIND_DATAA data{};
    FindHandle search(::FindFirstFileA(searchPath.c_str(), &data));
    if (!search.valid())
        return entries;
    do {
        entries.push_back(
            {data.cFileName, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0});
    } while (::FindNextFileA(search.get(), &data));
    return entries;
}

bool driveExists(const std::string& name) {
    // The root needs its backslash; an absent drive answers NO_ROOT_DIR, not UNKNOWN.
    const UINT type = ::GetDriveTypeA((name + "\\").c_str());
    return type != DRIVE_UNKNOWN && type != DRIVE_NO_ROOT_DIR;
}

bool lookUp(const std::string& path, FileInformation& info) {
    WIN32_FIND_DATAA data{};
    {
        FindHandle search(::FindFirstFileA(path.c_str(), &data));
        if (!search.valid())
            return false;
    }
    char fullPath[MAX_PATH] = {};
    const DWORD length = ::GetFullPathNameA(path.c_str(), MAX_PATH, fullPath, nullptr);
    if (length > 0 && length < MAX_PATH)
        info.fullPath.assign(fullPath, length);

    for (const AttributeMapping& mapping : kAttributes) {
        if (data.dwFileAttributes & mapping.windows)
            info.attributes |= mapping.bit;
    }
    info.created = calendarFields(data.ftCreationTime);
    info.accessed = calendarFields(data.ftLastAccessTime);
    info.modified = calendarFields(data.ftLastWriteTime);
    info.sizeLow = data.nFileSizeLow;
    info.sizeHigh = data.nFileSizeHigh;
    return true;
}

} // namespace Backend

} // namespace Kalvor::FileOps

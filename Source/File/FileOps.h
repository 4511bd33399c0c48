// The file-system operations outside an open file: copy, move, delete, create one directory,
// list a directory, test for and describe a path, set its attributes.
//
// Nothing here throws; every operation answers with a truth value (or an empty list) and leaves
// the system error for the caller (lastSystemError()). moveFile also keeps its error number in
// lastMoveError(), 0 after a success, shared by the whole process. win32 makes the Windows calls
// (CopyFileA, MoveFileExA, FindFirstFileA ...); posix stands in for them with the rules noted
// at each operation.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Kalvor::FileOps {

// Attribute bits of FileInformation and setAttributes; each stands for one Windows attribute.
enum Attribute : uint16_t {
    kArchive = 0x0001,
    kCompressed = 0x0002,
    kDirectory = 0x0004,
    kEncrypted = 0x0008,
    kHidden = 0x0010,
    kOffline = 0x0020,
    kReadOnly = 0x0040,
    kSystem = 0x0080,
    kTemporary = 0x0100,
    kNormal = 0x0200,
    kSparse = 0x1000,
};

struct DirectoryEntry {
    std::string name;   // as the system reports it, without directory
    bool isFile = true; // false for directories, "." and ".." included
};

// UTC calendar fields. The defaults (1970-01-01 00:00:00) stand for a time the system could not
// convert. millisecond is always 0.
struct CalendarFields {
    int32_t year = 1970;
    int32_t month = 1;
    int32_t day = 1;
    int32_t hour = 0;
    int32_t minute = 0;
    int32_t second = 0;
    int32_t millisecond = 0;
};

struct FileInformation {
    bool exists = false;
    std::string fullPath; // absolute; win32: empty when longer than the system's 260 bytes
    uint32_t sizeLow = 0;
    uint32_t sizeHigh = 0;
    uint16_t attributes = 0;
    CalendarFields created;
    CalendarFields accessed;
    CalendarFields modified;
};

// An existing target is replaced only with `overwrite`. A file is never copied onto itself.
bool copyFile(const std::string& source, const std::string& target, bool overwrite);

// With `replace` an existing target is replaced (win32 also across volumes); without it an
// existing target makes the move fail with the system's "already exists" error. posix: a
// rename, so source and target must be on one file system.
bool moveFile(const std::string& source, const std::string& target, bool replace);
int32_t lastMoveError();

// Files only. A read-only file refuses deletion (posix reproduces the Windows rule).
bool deleteFile(const std::string& path);

// One level; the parent must exist (FileUtils::makeDirectories makes chains).
bool createDirectory(const std::string& path);

// The entries of `directory` (given a trailing separator unless empty) that match `pattern`,
// such as "*" or "*.mess", in the order the system reports them, "." and ".." among them.
// Empty when nothing matches or the directory does not exist. posix matches "*" and "?" as
// Windows does, ASCII case-insensitively; "*.*" matches every name.
std::vector<DirectoryEntry> listDirectory(const std::string& directory, const std::string& pattern);

// "" does not exist. A name ending in ":" is a drive (never on posix). Trailing separators are
// ignored, so "dir\" exists when "dir" does.
bool exists(const std::string& path);

// True with a filled record when the path is found; false with `exists` cleared otherwise.
// posix: directory; read-only when the owner may not write; hidden when the name begins with
// "."; normal when none of those. "created" is the birth time where the file system keeps one,
// else the last-write time.
bool fileInfo(const std::string& path, FileInformation& info);

// Sets exactly the settable bits given (archive, hidden, offline, read-only, system, temporary,
// normal); the others are ignored, and no settable bit clears them all. posix can set only
// read-only (clearing every write permission; without it the owner may write again).
bool setAttributes(const std::string& path, uint16_t attributes);

} // namespace Kalvor::FileOps

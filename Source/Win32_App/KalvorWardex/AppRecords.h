// What the supervisor remembers of the applications it runs, in a file of the account's own, so
// that a supervisor started after a crash can tell its applications that still run from those it
// has to start. A record names a process by its id and start time (processStartTime), which no
// later process repeats; whether it may be adopted is still for the identity check to decide.
//
// The file is text: a first line "WardexApps 1", then one record a line, ended by LF, with the
// fields name, process id, thread id, start time (decimal) and program, separated by TAB. Names
// and programs may hold any byte but TAB, CR, LF and NUL. The file is replaced whole: a reader
// finds the old records or the new ones, never a mix.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Kalvor {

struct AppRecord {
    std::string name;
    uint32_t processId = 0;
    uint32_t threadId = 0;
    uint64_t startTime = 0;
    std::string program;

    bool operator==(const AppRecord& other) const {
        return name == other.name && processId == other.processId && threadId == other.threadId &&
               startTime == other.startTime && program == other.program;
    }
};

class AppRecordFile {
public:
    explicit AppRecordFile(std::string path);

    // The records of the file; empty when it is missing, unreadable or of another format (its
    // first line is not this version's). A line that does not parse is skipped, and so is a
    // last line without its LF (a file cut short). Never throws.
    std::vector<AppRecord> read() const;

    // Replaces the file with these records, whole: they go to a copy in the same folder (path +
    // ".tmp", under the File library's lock, path + ".lock") that is renamed into place. posix:
    // a link at the path is never written through: the write is refused, the link left. False,
    // with `why`, when the file cannot be written; it then stays as it was. A record holding
    // TAB, CR, LF or NUL is left out and the others are written: true, with `why` naming what
    // was left out (empty when nothing was). Writes of one file are not to overlap: a second
    // writer meanwhile is refused.
    bool write(const std::vector<AppRecord>& records, std::string& why) const;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// "Wardex_<userTag>.apps", with "/" and "\" in the tag made "_", so that it stays one name.
std::string appRecordFileName(const std::string& userTag);

// Where this account's supervisor of `userTag` keeps its records. posix: in the account's own
// lock folder (lockDirectory(): "<lock dir>/<uid>", 0700, this account's alone); win32:
// "%LOCALAPPDATA%\Kalvor" (made when missing), or the folder GetTempPathA names when LOCALAPPDATA
// is not set. Empty, with `why`, when there is no such folder.
std::string appRecordPath(const std::string& userTag, std::string& why);
std::string appRecordPath(const std::string& userTag);

} // namespace Kalvor

// One log file, shared line by line with the other processes that write it, and rotated by the
// process-wide scheme (LogRotation): once at start-up (init), at period boundaries in local time
// (time) or when it has grown past the size limit (size).
//
// Every line is written whole under the account's shared lock named after the file (SharedLock),
// and flushed before the lock is given back. The file is opened on the first line, for appending in
// place and without a lock file (the shared lock already keeps writers apart). Every line goes to
// the file at the log's path: under the lock the writer first checks that its open file is
// still the one there, and opens the path again when another process has rotated it away or it
// was deleted. A writer that rotates bumps the lock's count of changes, which tells the others
// to look; a deletion is seen on the open file; a rename by anything else is seen within a
// second. Rotation is decided and done under the same lock, just before a line: the file is
// renamed to "<base>_<opened time>_<counter>.<extension>" (the time in basic UTC form, which is a
// valid Windows name) and the line starts a new file. The rename never replaces a file: a name
// already taken moves the counter on (at most kArchiveNameTries names). With a count of archives
// to keep (LogRotation::keptArchives), the oldest beyond it, by the time and counter in their
// names, are deleted. Naming, finding and deleting archives follow LogArchives, which the output
// files of applications (OutputLog) share. The time the file was first opened
// ("<label>LogOpened") and the rotation counter ("<label>LogCounter") live in the registry, so
// they outlast the process. The file is opened so that other processes may rename it while it
// is open, on Windows too. A rename that fails all the same (another program holds the file
// without sharing its deletion) is logged once, with the system's number and text, and tried
// again before each of the writer's later lines, without a word, until it succeeds or the file
// at the path is another one (another writer rotated it). The counter moves on only with a
// rename that succeeded, or past names that files have taken: the retry uses the same name.
//
// Any thread may use a writer; its own lines (opened, closing, rotation events) are written
// while it holds the lock. Nothing here throws: failures are false results. A file that cannot
// be opened is named once on standard error, and again only after it was open in between.
#pragma once

#include "File/StreamBackend.h"
#include "Logger/LogArchives.h"
#include "Time/DateTime.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace Kalvor {

class FilePlain;
class SharedLock;

class LogFileWriter {
public:
    static constexpr const char* kDefaultFileName = "Kalvor_Debug.log";
    static constexpr int32_t kArchiveNameTries = LogArchives::kNameTries;

    explicit LogFileWriter(const std::string& path = kDefaultFileName);
    // Closes with the reason "Quitting Logger Agent".
    ~LogFileWriter();
    LogFileWriter(const LogFileWriter&) = delete;
    LogFileWriter& operator=(const LogFileWriter&) = delete;

    // Switches to another file. An open file is closed only once the new one is open, with a
    // line naming the new one, and the new file begins with a line naming the old one. The same
    // path again changes nothing. False, keeping the old file, when the new file object cannot
    // be made, or when the new file cannot be opened while the old one is open: the old file then
    // says so in a line and keeps the lines.
    bool setPath(const std::string& path);
    std::string path() const;

    // Appends the text and "\r\n". False when the lock was not had within two seconds
    // (the line is dropped) or the file could not be written.
    bool writeLine(const std::string& text);

    // Writes the closing line with the reason and closes the file; the next line opens it again.
    void close(const std::string& reason);

private:
    enum class State { Idle, Checking, Rotating };

    // Internal lines (the writer's own) skip the rotation check.
    bool writeLocked(const std::string& text, bool internal);
    void closeLocked(const std::string& reason);
    bool takeLock();
    void giveBackLock();
    void followSettings();
    void followPath();
    // Fills status_; false when the open file could not tell, only its size was found.
    bool lookAtOpenFile();
    void openIfClosed();
    void reportOpenFailure();
    void append(const std::string& bytes);
    void appendLine(const std::string& text);
    void closeFile(const std::string& reason, bool announce);
    bool rotationDue(std::string& conditions);
    void rotate(const std::string& conditions);
    void announceRotation(const std::string& conditions, const std::string& oldPath,
                          const std::string& newPath);
    void computeNextRotation();

    mutable std::mutex mutex_;
    std::unique_ptr<FilePlain> file_;
    std::unique_ptr<SharedLock> lock_;
    // The lock's count of changes when the path was last looked at, and when that was.
    uint64_t changesSeen_ = 0;
    uint32_t pathLookedAt_ = 0;
    // The open file as this line found it.
    StreamBackend::OpenStatus status_;
    std::string line_;
    State state_ = State::Idle;
    DateTime openedTime_;
    DateTime nextRotation_;
    bool nextRotationKnown_ = false;
    // The last rotation of the open file failed; the conditions it was started for.
    bool rotationFailing_ = false;
    std::string failedConditions_;
    bool openFailureReported_ = false;
    std::string openFailure_; // why the latest open failed
    // The settings the next rotation time was computed from.
    int32_t periodSeen_ = 0;
    int32_t sizeLimitSeen_ = 0;
    uint32_t generationSeen_ = 0;
};

} // namespace Kalvor

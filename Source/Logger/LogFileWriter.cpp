#include "Logger/LogFileWriter.h"

#include "Common/Exception.h"
#include "Common/StringUtils.h"
#include "Common/SystemError.h"
#include "Common/SystemInfo.h"
#include "File/FileOps.h"
#include "File/FilePlain.h"
#include "File/FileUtils.h"
#include "JobInstance/SharedLock.h"
#include "Logger/DecimalText.h"
#include "Logger/LogArchives.h"
#include "Logger/LogRecord.h"
#include "Logger/LogRotation.h"
#include "Logger/LogState.h"
#include "Time/SystemClock.h"

#include <cstdio>
#include <utility>

namespace Kalvor {
namespace {

// Renamable: any writer may rotate the file while the others hold it open.
constexpr int32_t kOpenFlags = FileBase::kWrite | FileBase::kAppend | FileBase::kInPlace |
                               FileBase::kNoLock | FileBase::kRenamable;
// A writer waits this long for the lock before it gives the line up.
constexpr uint32_t kLockPatienceMs = 2000;
// How often the path itself is looked at when nothing else says the file may have gone.
constexpr uint32_t kPathLookIntervalMs = 1000;
constexpr int64_t kMegabyte = 1048576;

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

std::string timeText(const DateTime& time) {
    return logTimeText(time, LogState::timeMode());
}

std::string lockNameFor(const std::string& path) {
    std::string name = FileUtils::namePart(path);
    replaceChar(name, '/', '_');
    replaceChar(name, '\\', '_');
    return name;
}

// The stored counter; absent or unreadable is 0.
int32_t storedCounter(const std::string& valueName) {
    std::string text;
    return SystemInfo::readResourceString(valueName, text) == SI_OK ? leadingDecimal(text) : 0;
}

// The stored opened time of an existing file; unreadable or absent counts as `now`.
DateTime storedOpenedTime(const std::string& valueName, const DateTime& now) {
    std::string stored;
    if (SystemInfo::readResourceString(valueName, stored) != SI_OK)
        return now;
    try {
        return DateTime(stored, IsoMode::DateAndTime);
    } catch (const Exception&) {
        return now;
    }
}

std::string failureText(const Exception& failure) {
    std::string text = failure.describe();
    if (!failure.detail().empty())
        text += " " + failure.detail();
    return text;
}

} // namespace

LogFileWriter::LogFileWriter(const std::string& path)
    : file_(std::make_unique<FilePlain>(path)),
      lock_(std::make_unique<SharedLock>(lockNameFor(path))),
      periodSeen_(LogRotation::period().totalSeconds()), sizeLimitSeen_(LogRotation::sizeLimit()),
      generationSeen_(LogRotation::recomputeGeneration()) {}

LogFileWriter::~LogFileWriter() {
    close("Quitting Logger Agent");
}

std::string LogFileWriter::path() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return file_->path();
}

bool LogFileWriter::setPath(const std::string& path) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (file_->path() == path)
        return true;
    std::unique_ptr<FilePlain> file;
    std::unique_ptr<SharedLock> lock;
    try {
        file = std::make_unique<FilePlain>(path);
        lock = std::make_unique<SharedLock>(lockNameFor(path));
    } catch (...) {
        return false;
    }
    const bool wasOpen = file_->isOpen();
    const std::string oldPath = file_->path();
    std::swap(file_, file);
    std::swap(lock_, lock);
    nextRotationKnown_ = false;
    if (!wasOpen)
        return true;

    // The new file opens before the old one closes: a log moved where it cannot be written
    // keeps its lines. That failure is told in the old file, not on standard error.
    const DateTime oldOpened = openedTime_;
    const bool reported = std::exchange(openFailureReported_, true);
    openFailure_ = "it cannot be written";
    const bool opened = writeLocked("Log continued from " + quoted(oldPath) + ".\r\n", true);
    std::swap(file_, file);
    std::swap(lock_, lock);
    if (!opened) {
        openFailureReported_ = reported;
        openedTime_ = oldOpened;
        computeNextRotation();
        writeLocked("Log file not moved to " + quoted(path) + " (" + openFailure_ +
                        "); its lines stay in this file.",
                    true);
        return false;
    }
    closeLocked("Log file moved to " + quoted(path));
    std::swap(file_, file);
    std::swap(lock_, lock);
    return true;
}

bool LogFileWriter::writeLine(const std::string& text) {
    std::lock_guard<std::mutex> guard(mutex_);
    return writeLocked(text, false);
}

void LogFileWriter::close(const std::string& reason) {
    std::lock_guard<std::mutex> guard(mutex_);
    closeLocked(reason);
}

bool LogFileWriter::writeLocked(const std::string& text, bool internal) {
    try {
        followSettings();
        if (!takeLock())
            return false;
        struct LockRelease {
            LogFileWriter& writer;
            ~LockRelease() { writer.giveBackLock(); }
        } release{*this};
        followPath();
        openIfClosed();
        std::string conditions;
        // A rotation that failed is tried again before every line, whatever the conditions say
        // now: a time or init rotation would not fall due again.
        const bool retry = rotationFailing_ && LogRotation::scheme() != LogRotation::kNone;
        if (!internal && (retry || rotationDue(conditions)))
            rotate(conditions);
        appendLine(text);
        if (LogRotation::initRotationPending())
            LogRotation::setInitRotationPending(false);
        return true;
    } catch (...) {
        return false;
    }
}

void LogFileWriter::closeLocked(const std::string& reason) {
    try {
        if (!file_->isOpen())
            return;
        // A closing line written without the lock could land inside another process's line.
        const bool locked = takeLock();
        if (locked)
            followPath();
        closeFile(reason, locked);
        if (locked)
            giveBackLock();
    } catch (...) {
    }
}

bool LogFileWriter::takeLock() {
    return lock_->acquire(kLockPatienceMs);
}

void LogFileWriter::giveBackLock() {
    state_ = State::Idle;
    lock_->release();
}

void LogFileWriter::followSettings() {
    const int32_t period = LogRotation::period().totalSeconds();
    const int32_t sizeLimit = LogRotation::sizeLimit();
    const uint32_t generation = LogRotation::recomputeGeneration();
    if (period == periodSeen_ && sizeLimit == sizeLimitSeen_ && generation == generationSeen_)
        return;
    periodSeen_ = period;
    sizeLimitSeen_ = sizeLimit;
    generationSeen_ = generation;
    if (file_->isOpen())
        computeNextRotation();
}

// Another process may have rotated the file away, or somebody deleted it. That file is closed
// without a word (the rotating process has closed it in writing; a deleted one has no reader),
// and the next line opens the path again. A look at the path costs more than the line's write,
// so it is taken only when the lock's count says another writer rotated the file, when the file
// itself says it was deleted, or once a second for what neither tells (a rename from outside).
void LogFileWriter::followPath() {
    if (!file_->isOpen())
        return;
    const bool told = lookAtOpenFile();
    const uint32_t now = SystemClock::tickCount();
    if (told && lock_->changes() == changesSeen_ && now - pathLookedAt_ < kPathLookIntervalMs &&
        !status_.deleted)
        return;
    pathLookedAt_ = now;
    changesSeen_ = lock_->changes();
    if (file_->isStillAtPath())
        return;
    try {
        file_->close();
    } catch (const Exception&) {
        // Every line was flushed when written: nothing is lost.
    }
}

// Where the system does not tell (a file system without the look), the path is looked at on
// every write as well.
bool LogFileWriter::lookAtOpenFile() {
    bool told = false;
    status_ = file_->openStatusOrSize(told);
    return told;
}

void LogFileWriter::openIfClosed() {
    if (file_->isOpen())
        return;
    const DateTime now;
    const bool existed = FileOps::exists(file_->path());
    try {
        file_->open(kOpenFlags);
    } catch (const Exception& failure) {
        openFailure_ = failureText(failure);
        reportOpenFailure();
        throw;
    }
    openFailureReported_ = false;
    // A file opened anew owes no rotation: another writer rotated the one that failed, or the
    // conditions are looked at afresh.
    rotationFailing_ = false;
    changesSeen_ = lock_->changes();
    pathLookedAt_ = SystemClock::tickCount();
    lookAtOpenFile();
    const std::string openedName = LogRotation::writerLabel() + "LogOpened";
    openedTime_ = existed ? storedOpenedTime(openedName, now) : now;
    if (!existed)
        LogRotation::setInitRotationPending(false);
    if (state_ != State::Rotating)
        append("\r\nOpened log file " + quoted(file_->path()) + ". Time: " + timeText(now) +
               "\r\n");
    computeNextRotation();
    if (!existed)
        SystemInfo::writeResourceString(openedName, openedTime_.text());
}

// Lines that cannot reach their file reach nobody: the process says so once on its standard
// error (the journal, under a service manager), and again only after the file was open again.
void LogFileWriter::reportOpenFailure() {
    if (openFailureReported_)
        return;
    openFailureReported_ = true;
    std::fprintf(
        stderr,
        "Cannot open the log file \"%s\" (%s); its lines are lost until it can be opened.\n",
        file_->path().c_str(), openFailure_.c_str());
    std::fflush(stderr);
}

void LogFileWriter::append(const std::string& bytes) {
    file_->write(bytes);
    file_->flush();
}

void LogFileWriter::appendLine(const std::string& text) {
    openIfClosed();
    // One buffer for every line: no allocation per line once it has grown.
    line_.assign(text).append("\r\n");
    append(line_);
}

void LogFileWriter::closeFile(const std::string& reason, bool announce) {
    if (!file_->isOpen())
        return;
    try {
        if (announce)
            append("\r\nClosing log file " + quoted(file_->path()) +
                   ". Time: " + timeText(DateTime()) + ". Reason: " + reason + ".\r\n");
    } catch (...) {
        file_->close();
        throw;
    }
    file_->close();
}

bool LogFileWriter::rotationDue(std::string& conditions) {
    const int32_t scheme = LogRotation::scheme();
    if (scheme == LogRotation::kNone || state_ != State::Idle)
        return false;
    state_ = State::Checking;
    const bool byTime = (scheme & LogRotation::kTime) != 0;
    const bool bySize = (scheme & LogRotation::kSize) != 0;

    // The size when this line began: what other processes wrote is in it.
    const int64_t megabytes = status_.bytes / kMegabyte;
    const int32_t limit = sizeLimitSeen_;
    // A limit of 0 or less would make every line "over the size": it switches the test off.
    const bool sizeOver = bySize && sizeLimitSeen_ > 0 && megabytes >= limit;
    // The clock is read only where time matters: this check runs before every line.
    const DateTime now = byTime ? DateTime() : nextRotation_;
    const bool timeDue = byTime && nextRotationKnown_ && !nextRotation_.after(now);
    const bool init = (scheme & LogRotation::kInit) != 0;

    bool rotate = false;
    if (init)
        rotate =
            LogRotation::initRotationPending() && (!byTime || timeDue) && (!bySize || sizeOver);
    else if (byTime && !timeDue)
        rotate = bySize && sizeOver;
    else if (byTime)
        rotate = !bySize || sizeOver;
    else if (bySize)
        rotate = sizeOver;
    if (!rotate) {
        state_ = State::Idle;
        return false;
    }

    // Texts only for a rotation that happens: this check runs before every line.
    const std::string sizeText = std::to_string(megabytes) + " >= " + std::to_string(limit);
    const std::string timeCondition = timeText(nextRotation_) + " <= " + timeText(now);
    if (init) {
        conditions = "\nRotate condition(s): Init";
        if (byTime)
            conditions += " AND Time " + timeCondition;
        if (bySize)
            conditions += " AND Size " + sizeText;
    } else if (byTime && !timeDue) {
        conditions = "\nRotate condition(s): Size " + sizeText;
    } else if (byTime) {
        conditions = "\nRotate condition(s): Time " + timeCondition;
        if (bySize)
            conditions += " AND Size " + sizeText;
    } else {
        conditions = "\nRotate condition: Size" + sizeText;
    }
    return true;
}

// The file is renamed while it is still open (it is opened renamable), so a failed rename leaves
// everything as it was, and the lines that tell of a successful one still reach the archive.
void LogFileWriter::rotate(const std::string& conditions) {
    state_ = State::Rotating;
    // A failure is told once; its retries say nothing until one succeeds, so that a file held
    // for hours does not fill with them.
    const bool retry = rotationFailing_;
    const std::string oldPath = file_->path();
    const std::string counterName = LogRotation::writerLabel() + "LogCounter";
    const int32_t stored = storedCounter(counterName);
    // A name already taken (an archive of another run, or one named again because the counter
    // could not be stored) moves the counter on; the rename itself never replaces either.
    const int32_t counter = LogArchives::freeCounter(oldPath, openedTime_, stored);
    const std::string newPath = LogArchives::archivePath(oldPath, openedTime_, counter);
    if (!retry)
        announceRotation(conditions, oldPath, newPath);
    if (!FileOps::moveFile(oldPath, newPath, false)) {
        const int32_t error = FileOps::lastMoveError();
        // The counter passes only names that files have taken: the next try uses this name.
        if (counter != stored)
            SystemInfo::writeResourceString(counterName, std::to_string(counter));
        if (!retry) {
            failedConditions_ = conditions;
            appendLine("Log file rotation error. (" + std::to_string(error) + ": " +
                       systemErrorText(error) + ")");
        }
        rotationFailing_ = true;
        state_ = State::Idle;
        return;
    }
    SystemInfo::writeResourceString(counterName, std::to_string(LogArchives::nextCounter(counter)));
    lock_->bumpChanges();
    rotationFailing_ = false;
    if (retry)
        announceRotation(failedConditions_, oldPath, newPath);
    closeFile("Rotating log file", true);
    appendLine("Log continued from " + quoted(FileUtils::namePart(newPath)) + ".");
    LogArchives::deleteOldArchives(oldPath, LogRotation::keptArchives());
    state_ = State::Idle;
}

void LogFileWriter::announceRotation(const std::string& conditions, const std::string& oldPath,
                                     const std::string& newPath) {
    appendLine(conditions);
    appendLine("\nRotation process started...");
    appendLine("Renaming file from " + quoted(oldPath) + " to " + quoted(newPath) + ".");
}

void LogFileWriter::computeNextRotation() {
    nextRotationKnown_ = false;
    if (periodSeen_ <= 0)
        return;
    const TimeSpan period(periodSeen_);
    DateTime next = openedTime_.plus(period);
    next.alignDown(period);
    const DateTime now;
    if (next.before(now)) {
        const int64_t behind = int64_t(now.seconds()) - next.seconds();
        const int64_t steps = (behind + periodSeen_ - 1) / periodSeen_;
        const int64_t seconds = next.seconds() + steps * int64_t(periodSeen_);
        next.setSeconds(static_cast<int32_t>(
            seconds > DateTime::kLatestSeconds ? DateTime::kLatestSeconds : seconds));
    }
    nextRotation_ = next;
    nextRotationKnown_ = true;
}

} // namespace Kalvor

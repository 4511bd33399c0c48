#include "Logger/LogFileWriter.h"

#include "Common/Exception.h"
#include "Common/StringUtils.h"
#include "Common/SystemInfo.h"
#include "File/FileOps.h"
#include "File/FilePlain.h"
#include "File/FileUtils.h"
#include "JobInstance/Monopoly.h"
#include "Logger/DecimalText.h"
#include "Logger/LogRecord.h"
#include "Logger/LogRotation.h"
#include "Logger/LogState.h"
#include "Time/SystemClock.h"
#include "Time/Timer.h"

#include <climits>
#include <cstdio>
#include <sstream>

namespace Kalvor {
namespace {

constexpr int32_t kOpenFlags =
    FileBase::kWrite | FileBase::kAppend | FileBase::kInPlace | FileBase::kNoLock;
// The lock is held for one line: a short burst of tries usually finds it free. After that the
// writer keeps trying for about two seconds before it gives the line up, pausing briefly
// between tries: the lock is free only between two lines of its holder, and a writer that
// looked only every 50 ms could miss those gaps for the whole two seconds while several busy
// processes share the file.
constexpr int32_t kQuickLockTries = 50;
constexpr uint32_t kLockPatienceMs = 2000;
constexpr uint32_t kLockPauseMs = 1;
constexpr int64_t kMegabyte = 1048576;
constexpr double kSizeFactorStep = 0.25;

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

std::string numberText(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

// The stored counter; absent or unreadable is 0.
int32_t storedCounter(const std::string& valueName) {
    std::string text;
    return SystemInfo::readResourceString(valueName, text) == SI_OK ? leadingDecimal(text) : 0;
}

} // namespace

LogFileWriter::LogFileWriter(const std::string& path)
    : file_(std::make_unique<FilePlain>(path)),
      lock_(std::make_unique<Monopoly>(lockNameFor(path))),
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
    std::unique_ptr<Monopoly> lock;
    try {
        file = std::make_unique<FilePlain>(path);
        lock = std::make_unique<Monopoly>(lockNameFor(path));
    } catch (...) {
        return false;
    }
    std::string continued;
    if (file_->isOpen()) {
        const std::string oldPath = file_->path();
        closeLocked("Log file moved to " + quoted(path));
        continued = "Log continued from " + quoted(oldPath) + ".\r\n";
    }
    file_ = std::move(file);
    lock_ = std::move(lock);
    nextRotationKnown_ = false;
    if (!continued.empty())
        writeLocked(continued, true);
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
        openIfClosed();
        std::string conditions;
        if (!internal && rotationDue(conditions)) {
            appendLine(conditions);
            rotate();
        }
        appendLine(text);
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
        closeFile(reason, locked);
        if (locked)
            giveBackLock();
    } catch (...) {
    }
}

bool LogFileWriter::takeLock() {
    for (int32_t attempt = 0; attempt < kQuickLockTries; ++attempt) {
        if (lock_->acquire())
            return true;
    }
    const uint32_t start = SystemClock::tickCount();
    while (SystemClock::tickCount() - start < kLockPatienceMs) {
        sleepMilliseconds(kLockPauseMs);
        if (lock_->acquire())
            return true;
    }
    return false;
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

void LogFileWriter::openIfClosed() {
    if (file_->isOpen())
        return;
    const DateTime now;
    const std::string openedName = LogRotation::writerLabel() + "LogOpened";
    const bool existed = FileOps::exists(file_->path());
    openedTime_ = now;
    if (existed) {
        std::string stored;
        if (SystemInfo::readResourceString(openedName, stored) == SI_OK) {
            try {
                openedTime_ = DateTime(stored, IsoMode::DateAndTime);
            } catch (const Exception&) {
                // An unreadable time counts as opened now.
            }
        }
    } else {
        LogRotation::setInitRotationPending(false);
    }
    try {
        file_->open(kOpenFlags);
    } catch (const Exception& failure) {
        reportOpenFailure(failure);
        throw;
    }
    openFailureReported_ = false;
    if (state_ != State::Rotating)
        append("\r\nOpened log file " + quoted(file_->path()) + ". Time: " + timeText(now) +
               "\r\n");
    computeNextRotation();
    if (!existed)
        SystemInfo::writeResourceString(openedName, openedTime_.text());
}

// Lines that cannot reach their file reach nobody: the process says so once on its standard
// error (the journal, under a service manager), and again only after the file was open again.
void LogFileWriter::reportOpenFailure(const Exception& failure) {
    if (openFailureReported_)
        return;
    openFailureReported_ = true;
    std::string reason = failure.describe();
    if (!failure.detail().empty())
        reason += " " + failure.detail();
    std::fprintf(stderr, "Cannot open the log file \"%s\" (%s); its lines are lost until it can be opened.\n",
                 file_->path().c_str(), reason.c_str());
    std::fflush(stderr);
}

void LogFileWriter::append(const std::string& bytes) {
    file_->write(bytes);
    file_->flush();
}

void LogFileWriter::appendLine(const std::string& text) {
    openIfClosed();
    append(text + "\r\n");
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
    const DateTime now;
    const bool byTime = (scheme & LogRotation::kTime) != 0;
    const bool bySize = (scheme & LogRotation::kSize) != 0;

    int64_t megabytes = 0;
    const double limit = sizeLimitSeen_ * sizeFactor_;
    if (bySize) {
        file_->seekToEnd();
        megabytes = file_->position() / kMegabyte;
    }
    // A limit of 0 or less would make every line "over the size": it switches the test off.
    const bool sizeOver = bySize && sizeLimitSeen_ > 0 && megabytes >= limit;
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
    const std::string sizeText = std::to_string(megabytes) + " >= " + numberText(limit);
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

void LogFileWriter::rotate() {
    state_ = State::Rotating;
    appendLine("\nRotation process started...");
    const std::string oldPath = file_->path();
    std::string base = oldPath;
    FileUtils::withoutExtension(base);
    const std::string extension = FileUtils::extensionPart(oldPath);
    const std::string counterName = LogRotation::writerLabel() + "LogCounter";
    const int32_t counter = storedCounter(counterName);
    const std::string newPath = base + "_" + openedTime_.text(TextForm::Basic) + "_" +
                                std::to_string(counter) +
                                (extension.empty() ? "" : "." + extension);
    SystemInfo::writeResourceString(counterName,
                                    std::to_string(counter == INT32_MAX ? 0 : counter + 1));
    appendLine("Renaming file from " + quoted(oldPath) + " to " + quoted(newPath) + ".");
    closeFile("Rotating log file", true);
    if (FileOps::moveFile(oldPath, newPath, true)) {
        sizeFactor_ = 1.0;
        appendLine("Log continued from " + quoted(FileUtils::namePart(newPath)) + ".");
    } else {
        // Most often another process holds the file open; the next attempt waits for more.
        sizeFactor_ += kSizeFactorStep;
        appendLine("Log file rotation error. (" + std::to_string(FileOps::lastMoveError()) + ")");
    }
    state_ = State::Idle;
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

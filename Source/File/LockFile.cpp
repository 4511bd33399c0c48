#include "File/LockFile.h"

#include "Common/Exception.h"
#include "File/FileOps.h"
#include "File/FileOpsBackend.h"
#include "File/ProcessId.h"
#include "Time/SystemClock.h"

#include <atomic>
#include <cstdio>
#include <random>
#include <vector>

namespace Kalvor {

namespace {

constexpr int kTokenCharacters = 10;

std::mt19937 seededGenerator() {
    static std::atomic<uint32_t> counter{0};
    uint32_t entropy = 0;
    try {
        std::random_device device;
        entropy = device();
    } catch (const std::exception&) {
        // The clock, the process id and the counter still tell objects apart.
    }
    std::seed_seq seed{static_cast<uint32_t>(SystemClock::now()), currentProcessId(),
                       counter.fetch_add(1), SystemClock::tickCount(), entropy};
    return std::mt19937(seed);
}

bool readText(const std::string& path, std::string& text) {
    text.clear();
    BufferedFile file;
    if (!file.open(path, BufferedFile::kRead))
        return false;
    char buffer[4096];
    while (const std::size_t got = file.read(buffer, sizeof buffer))
        text.append(buffer, got);
    return file.atEnd();
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

DateTime parseTime(const std::string& line) {
    try {
        return DateTime(line, IsoMode::DateAndTime);
    } catch (TimeException& error) {
        error.addLocation(KALVOR_HERE);
        throw;
    }
}

} // namespace

LockFile::LockFile(std::string path) : path_(std::move(path)), lockPath_(path_ + ".lock") {
    std::mt19937 random = seededGenerator();
    ownToken_ = DateTime().text(TextForm::Basic);
    for (int i = 0; i < kTokenCharacters; ++i)
        ownToken_.push_back(static_cast<char>(random() % 94 + 32));
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, "-%08x%08x", static_cast<unsigned>(random()),
                  static_cast<unsigned>(random()));
    sideSuffix_ = suffix;

    targetExisted_ = FileOps::exists(path_);
    readFound();
}

LockFile::~LockFile() {
    if (lockActive_ && ownerToken_ == ownToken_)
        releaseOwn();
}

void LockFile::readFound() {
    lockActive_ = true;
    holdTarget_ = false;
    if (!FileOps::exists(lockPath_)) {
        lockActive_ = false;
        return;
    }
    expectedReadable_ = readText(lockPath_, expectedText_);
    if (!expectedReadable_) {
        // Gone between the test and the read: nobody holds it.
        lockActive_ = FileOps::exists(lockPath_);
        return;
    }
    const std::vector<std::string> lines = splitLines(expectedText_);
    if (lines.size() > 0)
        lockTime_ = parseTime(lines[0]);
    if (lines.size() > 1)
        expiryTime_ = parseTime(lines[1]);
    if (lines.size() > 2)
        ownerToken_ = lines[2];
    if (lines.size() > 3)
        holdTarget_ = lines[3] == "original";
}

bool LockFile::lock(const TimeSpan& duration, bool holdTarget) {
    if (lockActive_)
        return false;
    lockTime_ = DateTime();
    expiryTime_ = lockTime_.plus(duration);

    // FileOps::Backend::move keeps these private moves out of the caller's lastMoveError().
    const std::string staging = lockPath_ + ".new" + sideSuffix_;
    const std::string text = lockText(holdTarget);
    if (!writeStaged(staging, text))
        return false;
    if (FileOps::Backend::move(staging, lockPath_, false) != 0) {
        FileOps::deleteFile(staging);
        return false;
    }
    // Kept open while held: on Windows nobody can then delete or move it.
    if (!lockStream_.open(lockPath_, BufferedFile::kRead) ||
        (holdTarget && !targetStream_.open(path_, BufferedFile::kAppend))) {
        lockStream_.close();
        FileOps::deleteFile(lockPath_);
        return false;
    }
    lockActive_ = true;
    ownerToken_ = ownToken_;
    holdTarget_ = holdTarget;
    expectedReadable_ = true;
    expectedText_ = text;
    return true;
}

std::string LockFile::lockText(bool holdTarget) const {
    return lockTime_.text() + kLineBreak + expiryTime_.text() + kLineBreak + ownToken_ +
           kLineBreak + (holdTarget ? "original" : "missing") + kLineBreak;
}

bool LockFile::writeStaged(const std::string& staging, const std::string& text) const {
    BufferedFile file;
    if (!file.createNew(staging))
        return false;
    bool written = file.write(text);
    written = file.close() && written;
    if (!written)
        FileOps::deleteFile(staging);
    return written;
}

bool LockFile::unlock() {
    if (!lockActive_)
        return true;
    if (ownerToken_ == ownToken_) {
        releaseOwn();
    } else if (DateTime().before(expiryTime_) || !removeIfUnchanged()) {
        return false;
    }
    lockActive_ = false;
    return true;
}

void LockFile::releaseTarget() {
    if (targetStream_.isOpen())
        targetStream_.close();
}

void LockFile::releaseOwn() {
    releaseTarget();
    if (lockStream_.isOpen())
        lockStream_.close();
    // Not ours any more only if we overran the expiry and somebody took over: theirs stays.
    removeIfUnchanged();
}

bool LockFile::removeIfUnchanged() {
    const std::string aside = lockPath_ + ".old" + sideSuffix_;
    if (FileOps::Backend::move(lockPath_, aside, false) != 0)
        return false;
    std::string text;
    const bool readable = readText(aside, text);
    if (readable == expectedReadable_ && text == expectedText_ && FileOps::deleteFile(aside))
        return true;
    // Somebody else's lock since we read it (or not deletable): it goes back where it was.
    if (FileOps::Backend::move(aside, lockPath_, false) != 0)
        FileOps::deleteFile(aside);
    return false;
}

} // namespace Kalvor

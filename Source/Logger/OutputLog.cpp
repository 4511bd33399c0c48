#include "Logger/OutputLog.h"

#include "Common/Exception.h"
#include "Common/SystemError.h"
#include "File/FileOps.h"
#include "File/FilePlain.h"
#include "Logger/LogArchives.h"
#include "Logger/LogRotation.h"
#include "Time/DateTime.h"
#include "Time/SystemClock.h"

#include <algorithm>
#include <climits>
#include <exception>
#include <new>

namespace Kalvor {

// The plain file, with the system's own error number of its stream's latest failure, which
// tells a link refused from a missing folder.
class OutputLog::File : public FilePlain {
public:
    using FilePlain::FilePlain;
    int32_t systemError() { return stream().systemError(); }
};

namespace {

// Renamable: a viewer or an operator may move the file away while it is written.
constexpr int32_t kOpenFlags = FileBase::kWrite | FileBase::kAppend | FileBase::kInPlace |
                               FileBase::kNoLock | FileBase::kRenamable;
// How often the path itself is looked at when the open file does not say it was deleted.
constexpr uint32_t kPathLookIntervalMs = 1000;
constexpr double kMegabyte = 1048576.0;

// The counter that sorts a new archive after those already named with this time (several
// rotations within one second); 0 when there are none.
int32_t firstCounter(const std::string& path, const std::string& timeText) {
    int64_t highest = -1;
    for (const LogArchives::Archive& archive : LogArchives::archivesOf(path)) {
        if (archive.time == timeText)
            highest = std::max(highest, archive.counter);
    }
    return highest < 0 || highest >= INT32_MAX ? 0 : static_cast<int32_t>(highest + 1);
}

} // namespace

OutputLog::OutputLog(std::string path) : file_(std::make_unique<File>(std::move(path))) {}

OutputLog::~OutputLog() {
    closeFile();
}

const std::string& OutputLog::path() const {
    return file_->path();
}

bool OutputLog::append(const char* bytes, std::size_t size) {
    try {
        followPath();
        openIfClosed();
        if (rotationDue())
            rotate();
        bytes_.assign(bytes, size);
        file_->write(bytes_);
        file_->flush();
        failure_.clear();
        return true;
    } catch (const Exception& failure) {
        failure_ = failureText(failure);
    } catch (const std::bad_alloc&) {
        failure_ = "Out of memory"; // short enough to need no allocation
    } catch (const std::exception& failure) {
        failure_ = failure.what();
    }
    // Whatever went wrong, the next append starts from the path again.
    abandonFile();
    return false;
}

// A look at the path costs more than the write, so it is taken when the open file says it was
// deleted, or once a second for a rename, which the open file does not tell.
void OutputLog::followPath() {
    if (!file_->isOpen())
        return;
    const bool told = lookAtOpenFile();
    const uint32_t now = SystemClock::tickCount();
    if (told && !status_.deleted && now - pathLookedAt_ < kPathLookIntervalMs)
        return;
    pathLookedAt_ = now;
    if (!status_.deleted && file_->isStillAtPath())
        return;
    closeFile();
}

// Where the system does not tell (a file system without the look), the path is looked at on
// every write as well.
bool OutputLog::lookAtOpenFile() {
    bool told = false;
    status_ = file_->openStatusOrSize(told);
    return told;
}

void OutputLog::openIfClosed() {
    if (file_->isOpen())
        return;
    file_->open(kOpenFlags);
    pathLookedAt_ = SystemClock::tickCount();
    lookAtOpenFile();
}

bool OutputLog::rotationDue() const {
    const int32_t limit = LogRotation::sizeLimit();
    return limit > 0 && static_cast<double>(status_.bytes) >= limit * kMegabyte;
}

void OutputLog::rotate() {
    // Moved away since the last look: the file at the path is another, and a new one is due
    // anyway.
    const bool atPath = file_->isStillAtPath();
    closeFile();
    if (atPath) {
        const DateTime now;
        const std::string& path = file_->path();
        const int32_t counter =
            LogArchives::freeCounter(path, now, firstCounter(path, now.text(TextForm::Basic)));
        // Something may hold the file (a viewer without share-delete): then it goes on, and the
        // next append tries again, so that it rotates as soon as the holder lets go.
        if (FileOps::moveFile(path, LogArchives::archivePath(path, now, counter), false))
            LogArchives::deleteOldArchives(path, LogRotation::keptArchives());
    }
    openIfClosed();
}

// Every append was flushed: a close that fails loses nothing.
void OutputLog::closeFile() {
    try {
        file_->close();
    } catch (const Exception&) {
        abandonFile();
    }
}

void OutputLog::abandonFile() {
    try {
        file_->abort();
    } catch (const Exception&) {
        // Without a lock file there is nothing to unlock.
    }
}

std::string OutputLog::failureText(const Exception& failure) const {
    std::string text = failure.describe();
    if (!failure.detail().empty())
        text += " " + failure.detail();
    // The stream's failures carry the system's reason: a refused link, a missing folder, a full
    // disk.
    const int32_t code = failure.code();
    const bool fromStream = dynamic_cast<const FileException*>(&failure) != nullptr &&
                            (code == FL_CANNOT_OPEN || code == FL_WRITE || code == FL_FLUSH);
    if (fromStream && file_->systemError() != 0)
        text += " (" + systemErrorText(file_->systemError()) + ")";
    return text;
}

} // namespace Kalvor

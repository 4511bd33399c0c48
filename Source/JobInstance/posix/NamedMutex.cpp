#include "JobInstance/NamedMutex.h"

#include "Common/posix/SafeFiles.h"
#include "Common/posix/UniqueFd.h"
#include "JobInstance/posix/LockDirectory.h"

#include <fcntl.h>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Kalvor {

namespace {

// The lock files of this process: which it holds, and a descriptor for each name it has used.
// flock already refuses a second open file description in the same process on a local file
// system; the held set makes that so on every file system. The descriptors stay open so that a
// lock taken again and again costs two system calls instead of six.
class LockFiles {
public:
    // A descriptor for the lock file, or an empty one (with `why`) when it cannot be opened;
    // nullopt when this process holds the lock already.
    std::optional<int> take(const std::string& path, std::string& why) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!held_.insert(path).second)
            return std::nullopt;
        UniqueFd& file = open_[path];
        if (file && isUnlinked(file.get()))
            file.reset(); // removed by someone: lock the file that is there now
        if (!file) {
            SafePathResult result;
            // Close-on-exec (as every openNoFollow): a started program must not inherit the
            // lock and keep it after we end.
            file = openNoFollow(path, O_RDONLY, 0600, result);
            why = result.why;
        }
        return file.get();
    }
    void giveBack(const std::string& path) {
        std::lock_guard<std::mutex> lock(mutex_);
        held_.erase(path);
    }

private:
    static bool isUnlinked(int fd) {
        struct stat status {};
        return ::fstat(fd, &status) != 0 || status.st_nlink == 0;
    }

    std::mutex mutex_;
    std::set<std::string> held_;
    std::map<std::string, UniqueFd> open_;
};

LockFiles& lockFiles() {
    static LockFiles* const instance = new LockFiles;
    return *instance;
}

} // namespace

struct NamedMutex::State {
    std::string path;
    int file = -1; // owned by LockFiles

    void close() {
        if (file < 0)
            return;
        file = -1;
        lockFiles().giveBack(path);
    }
    ~State() {
        if (file >= 0)
            ::flock(file, LOCK_UN);
        close();
    }
};

NamedMutex::NamedMutex(std::unique_ptr<State> state) : state_(std::move(state)) {}

NamedMutex::~NamedMutex() = default;

std::unique_ptr<NamedMutex> NamedMutex::create(const std::string& name, std::string& failure) {
    failure.clear();
    const std::string directory = lockDirectory(failure);
    if (directory.empty())
        return nullptr;
    const std::string path = directory + "/" + name;
    const std::optional<int> file = lockFiles().take(path, failure);
    if (!file)
        return nullptr;
    if (*file < 0 || ::flock(*file, LOCK_EX | LOCK_NB) != 0) {
        lockFiles().giveBack(path);
        return nullptr;
    }
    auto state = std::make_unique<State>();
    state->path = path;
    state->file = *file;
    return std::unique_ptr<NamedMutex>(new NamedMutex(std::move(state)));
}

bool NamedMutex::release() {
    if (state_->file >= 0 && ::flock(state_->file, LOCK_UN) != 0)
        return false;
    state_->close();
    return true;
}

} // namespace Kalvor

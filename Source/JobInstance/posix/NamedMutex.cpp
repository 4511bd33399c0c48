#include "JobInstance/NamedMutex.h"

#include "Common/posix/UniqueFd.h"

#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>

namespace Kalvor {

namespace {

std::string lockDirectory() {
    const char* directory = std::getenv("KALVOR_LOCK_DIR");
    return directory != nullptr && *directory != '\0' ? directory : "/tmp/kalvor-locks";
}

// Every account may create its locks there; the sticky bit keeps one from removing another's.
void makeLockDirectory(const std::string& directory) {
    if (::mkdir(directory.c_str(), 0777) == 0 && ::chmod(directory.c_str(), 01777) != 0) {
        // Left with the umask's rights: locks of this account still work.
    }
}

// The lock files of this process: which it holds, and a descriptor for each name it has used.
// flock already refuses a second open file description in the same process on a local file
// system; the held set makes that so on every file system. The descriptors stay open so that a
// lock taken for every log line costs two system calls instead of six.
class LockFiles {
public:
    // A descriptor for the lock file, or an empty one when it cannot be opened; nullopt
    // when this process holds the lock already.
    std::optional<int> take(const std::string& directory, const std::string& path) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!held_.insert(path).second)
            return std::nullopt;
        UniqueFd& file = open_[path];
        if (file && isUnlinked(file.get()))
            file.reset(); // removed by someone: lock the file that is there now
        if (!file)
            file = openLockFile(directory, path);
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

    static UniqueFd openLockFile(const std::string& directory, const std::string& path) {
        makeLockDirectory(directory);
        // Close-on-exec: a started program must not inherit the lock and keep it after we end.
        UniqueFd file(::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666));
        if (file && ::fchmod(file.get(), 0666) != 0) {
            // Another account's file: it keeps the rights it has.
        }
        return file;
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

std::unique_ptr<NamedMutex> NamedMutex::create(const std::string& name) {
    const std::string directory = lockDirectory();
    const std::string path = directory + "/" + name;
    const std::optional<int> file = lockFiles().take(directory, path);
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

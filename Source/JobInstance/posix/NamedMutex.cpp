#include "JobInstance/NamedMutex.h"

#include "Common/posix/UniqueFd.h"

#include <cstdlib>
#include <fcntl.h>
#include <mutex>
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

// The lock files this process holds. flock already refuses a second open file description in
// the same process on a local file system; the table makes that so on every file system.
class HeldLocks {
public:
    bool add(const std::string& path) {
        std::lock_guard<std::mutex> lock(mutex_);
        return paths_.insert(path).second;
    }
    void remove(const std::string& path) {
        std::lock_guard<std::mutex> lock(mutex_);
        paths_.erase(path);
    }

private:
    std::mutex mutex_;
    std::set<std::string> paths_;
};

HeldLocks& heldLocks() {
    static HeldLocks* const instance = new HeldLocks;
    return *instance;
}

} // namespace

struct NamedMutex::State {
    std::string path;
    UniqueFd file;

    void close() {
        if (!file)
            return;
        file.reset();
        heldLocks().remove(path);
    }
    ~State() { close(); }
};

NamedMutex::NamedMutex(std::unique_ptr<State> state) : state_(std::move(state)) {}

NamedMutex::~NamedMutex() = default;

std::unique_ptr<NamedMutex> NamedMutex::create(const std::string& name) {
    const std::string directory = lockDirectory();
    makeLockDirectory(directory);
    const std::string path = directory + "/" + name;
    if (!heldLocks().add(path))
        return nullptr;
    // Close-on-exec: a started program must not inherit the lock and keep it after we end.
    UniqueFd file(::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666));
    if (file && ::fchmod(file.get(), 0666) != 0) {
        // Another account's file: it keeps the rights it has.
    }
    if (!file || ::flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
        heldLocks().remove(path);
        return nullptr;
    }
    auto state = std::make_unique<State>();
    state->path = path;
    state->file = std::move(file);
    return std::unique_ptr<NamedMutex>(new NamedMutex(std::move(state)));
}

bool NamedMutex::release() {
    if (state_->file && ::flock(state_->file.get(), LOCK_UN) != 0)
        return false;
    state_->close();
    return true;
}

} // namespace Kalvor

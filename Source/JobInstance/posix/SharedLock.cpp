#include "JobInstance/SharedLock.h"

#include "Common/SystemError.h"
#include "Common/posix/UniqueFd.h"
#include "JobInstance/posix/LockDirectory.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Kalvor {

namespace {

constexpr uint64_t kMagic = 0x4b616c766f724c31; // "KalvorL1": the layout below
constexpr int kAttachRounds = 3;

struct Layout {
    uint64_t magic;
    pthread_mutex_t mutex;
    uint64_t changes;
};

std::string systemFailure(const std::string& what, int error) {
    return what + ": " + systemErrorText(error);
}

// Removes a file of ours on leaving the scope.
struct RemovedOnExit {
    std::string path;
    ~RemovedOnExit() { ::unlink(path.c_str()); }
};

// A mapped layout, unmapped on destruction.
struct Mapping {
    Layout* layout = nullptr;

    Mapping() = default;
    explicit Mapping(int fd) {
        void* memory =
            ::mmap(nullptr, sizeof(Layout), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (memory != MAP_FAILED)
            layout = static_cast<Layout*>(memory);
    }
    ~Mapping() {
        if (layout != nullptr)
            ::munmap(layout, sizeof(Layout));
    }
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;
    Mapping& operator=(Mapping&& other) noexcept {
        std::swap(layout, other.layout);
        return *this;
    }
};

bool makeMutex(pthread_mutex_t& mutex) {
    pthread_mutexattr_t attributes;
    if (::pthread_mutexattr_init(&attributes) != 0)
        return false;
    // Error-checking: a thread that takes it twice is told so instead of waiting on itself.
    const bool made = ::pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED) == 0 &&
                      ::pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST) == 0 &&
                      ::pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_ERRORCHECK) == 0 &&
                      ::pthread_mutex_init(&mutex, &attributes) == 0;
    ::pthread_mutexattr_destroy(&attributes);
    return made;
}

// Makes a lock file whole under a name of its own and puts it at `path`: linked, so that the
// first of several makers wins, or renamed over what is there when that is no lock.
bool publishLock(const std::string& path, bool replace, std::string& why) {
    RemovedOnExit made{path + ".XXXXXX"};
    UniqueFd fd(::mkostemp(made.path.data(), O_CLOEXEC));
    if (!fd) {
        made.path.clear();
        why = systemFailure(path, errno);
        return false;
    }
    if (::ftruncate(fd.get(), sizeof(Layout)) != 0) {
        why = systemFailure(made.path, errno);
        return false;
    }
    Mapping mapping(fd.get());
    if (mapping.layout == nullptr || !makeMutex(mapping.layout->mutex)) {
        why = systemFailure(made.path, errno);
        return false;
    }
    mapping.layout->changes = 0;
    mapping.layout->magic = kMagic;
    const int placed = replace ? ::rename(made.path.c_str(), path.c_str())
                               : ::link(made.path.c_str(), path.c_str());
    if (placed != 0) {
        const SystemError failed = lastSystemErrorValue();
        if (failed != std::errc::file_exists) {
            why = systemFailure(path, failed.native);
            return false;
        }
    }
    return true;
}

enum class Found { Lock, Missing, NoLock, Failed };

// The lock file at `path`, mapped, when it is one: a regular file of this account that nobody
// else may write, of the layout's size and with its mark.
Found mapLock(const std::string& path, Mapping& mapping, ino_t& inode, std::string& why) {
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        const SystemError failed = lastSystemErrorValue();
        if (failed == std::errc::no_such_file_or_directory)
            return Found::Missing;
        if (failed == std::errc::too_many_symbolic_link_levels)
            return Found::NoLock;
        why = systemFailure(path, failed.native);
        return Found::Failed;
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) {
        why = systemFailure(path, errno);
        return Found::Failed;
    }
    if (!S_ISREG(status.st_mode) || status.st_uid != ::geteuid() ||
        (status.st_mode & (S_IWGRP | S_IWOTH)) != 0 || status.st_size != sizeof(Layout))
        return Found::NoLock;
    Mapping mapped(fd.get());
    if (mapped.layout == nullptr) {
        why = systemFailure(path, errno);
        return Found::Failed;
    }
    if (mapped.layout->magic != kMagic)
        return Found::NoLock;
    mapping = std::move(mapped);
    inode = status.st_ino;
    return Found::Lock;
}

int waitFor(pthread_mutex_t& mutex, uint32_t patienceMs) {
    struct timespec deadline {};
    ::clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += patienceMs / 1000;
    deadline.tv_nsec += static_cast<long>(patienceMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    return ::pthread_mutex_timedlock(&mutex, &deadline);
}

// A lock file, mapped.
struct MappedLock {
    std::string path;
    ino_t inode = 0;
    Mapping mapping;
};

// The process maps each lock file once, however many objects use the name: the mutex then has
// one address in the process, which is what a thread checker goes by.
class MappedLocks {
public:
    std::shared_ptr<MappedLock> find(const std::string& path, std::string& why) {
        std::lock_guard<std::mutex> guard(mutex_);
        if (std::shared_ptr<MappedLock> known = mapped_[path].lock())
            return known;
        auto made = std::make_shared<MappedLock>();
        made->path = path;
        for (int round = 0; round < kAttachRounds; ++round) {
            const Found found = mapLock(path, made->mapping, made->inode, why);
            if (found == Found::Lock) {
                mapped_[path] = made;
                return made;
            }
            if (found == Found::Failed || !publishLock(path, found == Found::NoLock, why))
                return nullptr;
        }
        why = path + ": keeps being replaced by another process";
        return nullptr;
    }

    // A lock found broken for good: the next find() maps the file at the path anew.
    void forget(const MappedLock& lock) {
        std::lock_guard<std::mutex> guard(mutex_);
        const auto known = mapped_.find(lock.path);
        if (known != mapped_.end() && known->second.lock().get() == &lock)
            mapped_.erase(known);
    }

private:
    std::mutex mutex_;
    std::map<std::string, std::weak_ptr<MappedLock>> mapped_;
};

MappedLocks& mappedLocks() {
    static MappedLocks* const instance = new MappedLocks;
    return *instance;
}

} // namespace

struct SharedLock::Shared {
    std::shared_ptr<MappedLock> lock;
};

SharedLock::SharedLock(std::string name) : name_(std::move(name)) {}

SharedLock::~SharedLock() {
    release();
}

bool SharedLock::attach() {
    if (shared_)
        return true;
    std::string why;
    const std::string directory = lockDirectory(why);
    std::shared_ptr<MappedLock> lock =
        directory.empty() ? nullptr : mappedLocks().find(directory + "/" + name_ + ".mutex", why);
    if (!lock) {
        failure_ = why;
        return false;
    }
    shared_ = std::make_unique<Shared>();
    shared_->lock = std::move(lock);
    return true;
}

bool SharedLock::acquire(uint32_t patienceMs) {
    if (held_)
        return true;
    if (!attach())
        return false;
    MappedLock& lock = *shared_->lock;
    pthread_mutex_t& mutex = lock.mapping.layout->mutex;
    // Free most of the time: no clock is read then.
    int error = ::pthread_mutex_trylock(&mutex);
    if (systemError(error) == std::errc::device_or_resource_busy)
        error = patienceMs > 0 ? waitFor(mutex, patienceMs) : ETIMEDOUT;
    // The holder died holding it: what it guarded is as it left it, which for a log is a whole
    // line or none, as each line is one write.
    if (systemError(error) == std::errc::owner_dead)
        error = ::pthread_mutex_consistent(&mutex);
    if (error == 0) {
        held_ = true;
        failure_.clear();
        return true;
    }
    const SystemError failed = systemError(error);
    if (failed == std::errc::timed_out) {
        failure_ = lock.path + ": held by another for over " + std::to_string(patienceMs) + " ms";
        return false;
    }
    failure_ = systemFailure(lock.path, failed.native);
    if (failed == std::errc::state_not_recoverable) {
        // Never usable again (a holder recovered it without making it consistent): the next
        // attempt makes a new one, unless somebody has done so already.
        struct stat status {};
        if (::lstat(lock.path.c_str(), &status) == 0 && status.st_ino == lock.inode)
            ::unlink(lock.path.c_str());
        mappedLocks().forget(lock);
        shared_.reset();
    }
    return false;
}

void SharedLock::release() {
    if (!held_)
        return;
    held_ = false;
    ::pthread_mutex_unlock(&shared_->lock->mapping.layout->mutex);
}

uint64_t SharedLock::changes() const {
    return shared_ ? shared_->lock->mapping.layout->changes : 0;
}

void SharedLock::bumpChanges() {
    if (held_)
        ++shared_->lock->mapping.layout->changes;
}

} // namespace Kalvor

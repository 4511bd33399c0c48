#include "JobInstance/SharedLock.h"

#include "Common/SystemError.h"
#include "Common/win32/Windows.h"
#include "Common/win32/UniqueHandle.h"

namespace Kalvor {

namespace {

std::string systemFailure(const std::string& what) {
    return what + ": " + systemErrorText(static_cast<int32_t>(::GetLastError()));
}

} // namespace

struct SharedLock::Shared {
    UniqueHandle mutex;
    UniqueHandle mapping;
    // Zeroed by the system when the mapping is first made.
    volatile uint64_t* changes = nullptr;

    ~Shared() {
        if (changes != nullptr)
            ::UnmapViewOfFile(const_cast<uint64_t*>(changes));
    }
};

SharedLock::SharedLock(std::string name) : name_(std::move(name)) {}

SharedLock::~SharedLock() {
    release();
}

bool SharedLock::attach() {
    if (shared_)
        return true;
    auto shared = std::make_unique<Shared>();
    const std::string mutexName = name_ + ".mutex";
    shared->mutex = UniqueHandle(::CreateMutexA(nullptr, FALSE, mutexName.c_str()));
    if (!shared->mutex) {
        failure_ = systemFailure("CreateMutexA(\"" + mutexName + "\")");
        return false;
    }
    const std::string mappingName = name_ + ".changes";
    shared->mapping = UniqueHandle(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr,
                                                        PAGE_READWRITE, 0, sizeof(uint64_t),
                                                        mappingName.c_str()));
    if (shared->mapping)
        shared->changes = static_cast<volatile uint64_t*>(
            ::MapViewOfFile(shared->mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, sizeof(uint64_t)));
    if (shared->changes == nullptr) {
        failure_ = systemFailure("CreateFileMappingA(\"" + mappingName + "\")");
        return false;
    }
    shared_ = std::move(shared);
    return true;
}

bool SharedLock::acquire(uint32_t patienceMs) {
    if (held_)
        return true;
    if (!attach())
        return false;
    // Abandoned: its holder ended holding it, and the lock is ours now.
    const DWORD waited = ::WaitForSingleObject(shared_->mutex.get(), patienceMs);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
        held_ = true;
        failure_.clear();
        return true;
    }
    failure_ = waited == WAIT_TIMEOUT ? name_ + ".mutex: held by another for over " +
                                            std::to_string(patienceMs) + " ms"
                                      : systemFailure("WaitForSingleObject");
    return false;
}

void SharedLock::release() {
    if (!held_)
        return;
    held_ = false;
    ::ReleaseMutex(shared_->mutex.get());
}

uint64_t SharedLock::changes() const {
    return shared_ ? *shared_->changes : 0;
}

void SharedLock::bumpChanges() {
    if (held_)
        *shared_->changes = *shared_->changes + 1;
}

} // namespace Kalvor

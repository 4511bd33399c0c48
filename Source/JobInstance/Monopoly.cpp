#include "JobInstance/Monopoly.h"

#include "Common/StringUtils.h"
#include "JobInstance/NamedMutex.h"

namespace Kalvor {

Monopoly::Monopoly() = default;

Monopoly::Monopoly(const std::string& name) {
    setName(name);
}

Monopoly::~Monopoly() {
    if (named_) {
        releaseNamed();
        return;
    }
    while (held_ && ownerThread_ == std::this_thread::get_id())
        release();
}

bool Monopoly::setName(const std::string& name) {
    if (mutex_ || (!named_ && held_))
        return false;
    name_ = name;
    replaceChar(name_, '/', '_');
    replaceChar(name_, '\\', '_');
    named_ = true;
    held_ = false;
    return true;
}

bool Monopoly::acquire() {
    if (named_)
        return acquireNamed();
    lock_.lock();
    ++entryCount_;
    ownerThread_ = std::this_thread::get_id();
    held_ = true;
    return true;
}

bool Monopoly::release() {
    if (!held_)
        return true;
    if (named_)
        return releaseNamed();
    if (ownerThread_ != std::this_thread::get_id())
        return false;
    if (--entryCount_ == 0) {
        held_ = false;
        ownerThread_ = std::thread::id();
    }
    lock_.unlock();
    return true;
}

bool Monopoly::acquireNamed() {
    if (held_)
        return true;
    if (name_.empty() || mutex_)
        return false;
    mutex_ = NamedMutex::create(name_, failure_);
    held_ = mutex_ != nullptr;
    return held_;
}

bool Monopoly::releaseNamed() {
    if (!mutex_)
        return true;
    if (!mutex_->release())
        return false;
    mutex_.reset();
    held_ = false;
    return true;
}

} // namespace Kalvor

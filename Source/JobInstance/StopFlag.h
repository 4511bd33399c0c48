// The one stop request of a waiting loop: every source of a stop sets it (the session's end, a
// close request, a DIE command, the global marker), and the loop's wait ends at once.
//
// request() is async-signal-safe on posix: a lock-free atomic and WaitSet::wake(). The sources
// are kept apart only so that the loop can log each one as it always has.
#pragma once

#include "JobInstance/WaitSet.h"

#include <atomic>
#include <cstdint>

namespace Kalvor {

class StopFlag {
public:
    enum Source : uint32_t {
        kSessionEnd = 1u, // log-off, shut-down; posix SIGTERM and SIGHUP
        kClose = 2u,      // WM_CLOSE; posix SIGINT
        kCommand = 4u,    // a DIE command
        kMarker = 8u      // the global marker
    };

    explicit StopFlag(WaitSet& wait) : wait_(wait) {}
    StopFlag(const StopFlag&) = delete;
    StopFlag& operator=(const StopFlag&) = delete;

    void request(Source source) noexcept {
        sources_.fetch_or(source);
        wait_.wake();
    }
    bool requested() const noexcept { return sources_.load() != 0; }
    bool requestedBy(Source source) const noexcept { return (sources_.load() & source) != 0; }

private:
    static_assert(std::atomic<uint32_t>::is_always_lock_free);
    WaitSet& wait_;
    std::atomic<uint32_t> sources_{0};
};

} // namespace Kalvor

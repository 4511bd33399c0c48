#include "JobInstance/ThreadMessages.h"

#include "JobInstance/posix/MessageQueues.h"
#include "JobInstance/posix/SafePoint.h"

#include <deque>
#include <functional>
#include <mutex>
#include <unistd.h>
#include <unordered_map>

namespace Kalvor {

namespace {

class QueueRegistry {
public:
    void create(uint32_t threadId) {
        std::lock_guard<std::mutex> lock(mutex_);
        queues_.try_emplace(threadId);
    }
    void remove(uint32_t threadId) {
        std::lock_guard<std::mutex> lock(mutex_);
        queues_.erase(threadId);
        hooks_.erase(threadId);
    }
    void setHook(uint32_t threadId, std::function<void()> hook) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (hook)
            hooks_[threadId] = std::move(hook);
        else
            hooks_.erase(threadId);
    }
    bool post(uint32_t threadId, const ThreadMessage& message) {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto queue = queues_.find(threadId);
        if (queue == queues_.end())
            return false;
        queue->second.push_back(message);
        // Under the lock, so that the hook's owner cannot go away meanwhile; hooks never block.
        if (const auto hook = hooks_.find(threadId); hook != hooks_.end())
            hook->second();
        return true;
    }
    bool take(uint32_t threadId, ThreadMessage& out) {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto queue = queues_.find(threadId);
        if (queue == queues_.end() || queue->second.empty())
            return false;
        out = queue->second.front();
        queue->second.pop_front();
        return true;
    }

private:
    std::mutex mutex_;
    std::unordered_map<uint32_t, std::deque<ThreadMessage>> queues_;
    std::unordered_map<uint32_t, std::function<void()>> hooks_;
};

// Never destroyed: threads may still end (and drop their queues) after static destruction.
QueueRegistry& registry() {
    static QueueRegistry* const instance = new QueueRegistry;
    return *instance;
}

// The calling thread's queue, removed when the thread ends.
struct OwnQueue {
    uint32_t threadId = 0;
    bool exists = false;

    uint32_t id() {
        if (!exists) {
            threadId = currentThreadId();
            registry().create(threadId);
            exists = true;
        }
        return threadId;
    }
    void drop() {
        if (exists)
            registry().remove(threadId);
        exists = false;
    }
    ~OwnQueue() { drop(); }
};

thread_local OwnQueue ownQueue;

} // namespace

uint32_t currentThreadId() {
    return static_cast<uint32_t>(::gettid());
}

void ensureMessageQueue() {
    threadSafePoint();
    ownQueue.id();
}

bool postThreadMessage(uint32_t threadId, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    return registry().post(threadId, {message, wParam, lParam});
}

bool peekMessage(ThreadMessage& out) {
    threadSafePoint();
    return registry().take(ownQueue.id(), out);
}

void setMessageArrivalHook(std::function<void()> hook) {
    registry().setHook(ownQueue.id(), std::move(hook));
}

void dropMessageQueue() {
    ownQueue.drop();
}

} // namespace Kalvor

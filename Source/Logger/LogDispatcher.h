// Stamps entries with the sender's source number, turns them into wire text and hands them to
// a messenger. With thread numbers switched on (LogState), a debug text is prefixed by the
// calling thread's number and ": ".
#pragma once

#include <cstdint>
#include <memory>

namespace Kalvor {

class LogMessenger;
struct LogRecord;

class LogDispatcher {
public:
    LogDispatcher(int32_t sourceNumber, std::shared_ptr<LogMessenger> messenger);

    // False without a messenger or when its write fails. Never throws.
    bool send(LogRecord& record) const;

    int32_t sourceNumber() const { return sourceNumber_; }
    const std::shared_ptr<LogMessenger>& messenger() const { return messenger_; }

private:
    int32_t sourceNumber_;
    std::shared_ptr<LogMessenger> messenger_;
};

} // namespace Kalvor

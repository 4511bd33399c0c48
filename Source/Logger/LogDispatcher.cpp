#include "Logger/LogDispatcher.h"

#include "JobInstance/ThreadMessages.h"
#include "Logger/LogMessenger.h"
#include "Logger/LogRecord.h"
#include "Logger/LogState.h"

#include <string>

namespace Kalvor {

LogDispatcher::LogDispatcher(int32_t sourceNumber, std::shared_ptr<LogMessenger> messenger)
    : sourceNumber_(sourceNumber), messenger_(std::move(messenger)) {}

bool LogDispatcher::send(LogRecord& record) const {
    try {
        record.sourceNumber = sourceNumber_;
        if (record.kind == LogKind::Debug && LogState::threadNumbers())
            record.text = std::to_string(currentThreadId()) + ": " + record.text;
        if (!messenger_)
            return false;
        return messenger_->write(record.wireText());
    } catch (...) {
        return false;
    }
}

} // namespace Kalvor

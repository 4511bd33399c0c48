#include "Logger/LoggerUnit.h"

#include "Logger/LogCommons.h"
#include "Logger/LogDispatcher.h"
#include "Logger/LogRecord.h"
#include "Logger/LogState.h"

namespace Kalvor {

LoggerUnit::LoggerUnit(std::shared_ptr<LogDispatcher> dispatcher, int32_t moduleNumber)
    : dispatcher_(std::move(dispatcher)), moduleNumber_(moduleNumber) {
    debug(1, "LoggerUnit: Created logger for the %s module.",
          LogParams().add(LogCommons::moduleName(moduleNumber_)));
}

LoggerUnit::~LoggerUnit() {
    debug(1, "LoggerUnit: Destroyed logger for the %s module.",
          LogParams().add(LogCommons::moduleName(moduleNumber_)));
}

bool LoggerUnit::debug(int32_t level, const std::string& text) const {
    if (level > LogState::debugLevel())
        return true;
    return sendDebug(level, text);
}

bool LoggerUnit::debug(int32_t level, const std::string& format, const LogParams& params) const {
    if (level > LogState::debugLevel())
        return true;
    try {
        return sendDebug(level, substitutePlaceholders(format, params.text()));
    } catch (...) {
        return false;
    }
}

bool LoggerUnit::catalogEntry(int32_t severity, int32_t messageNumber,
                              const std::string& parameters) const {
    try {
        if (!dispatcher_)
            return false;
        LogRecord record;
        record.kind = LogKind::Catalog;
        record.moduleNumber = moduleNumber_;
        record.time = DateTime();
        record.severity = severity;
        record.text = parameters;
        record.messageNumber = messageNumber;
        return dispatcher_->send(record);
    } catch (...) {
        return false;
    }
}

bool LoggerUnit::notice(int32_t messageNumber, const LogParams& params) const {
    return catalogIfSevere(kNotice, messageNumber, params);
}

bool LoggerUnit::warning(int32_t messageNumber, const LogParams& params) const {
    return catalogIfSevere(kWarning, messageNumber, params);
}

bool LoggerUnit::error(int32_t messageNumber, const LogParams& params) const {
    return catalogIfSevere(kError, messageNumber, params);
}

bool LoggerUnit::critical(int32_t messageNumber, const LogParams& params) const {
    return catalogIfSevere(kCritical, messageNumber, params);
}

bool LoggerUnit::fatal(int32_t messageNumber, const LogParams& params) const {
    return catalogIfSevere(kFatal, messageNumber, params);
}

bool LoggerUnit::catalogIfSevere(int32_t severity, int32_t messageNumber,
                                 const LogParams& params) const {
    if (severity < LogState::minimumSeverity())
        return true;
    try {
        return catalogEntry(severity, messageNumber, params.text());
    } catch (...) {
        return false;
    }
}

bool LoggerUnit::sendDebug(int32_t level, const std::string& text) const {
    try {
        if (!dispatcher_)
            return false;
        LogRecord record;
        record.kind = LogKind::Debug;
        record.moduleNumber = moduleNumber_;
        record.time = DateTime();
        record.debugLevel = level;
        record.text = text;
        return dispatcher_->send(record);
    } catch (...) {
        return false;
    }
}

} // namespace Kalvor

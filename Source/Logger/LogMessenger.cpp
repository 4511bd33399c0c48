#include "Logger/LogMessenger.h"

#include "Logger/LogParams.h"
#include "Logger/LogRecord.h"
#include "Logger/LogState.h"

namespace Kalvor {

LogMessenger::~LogMessenger() = default;

bool LogMessenger::write(const std::string& wireText) {
    try {
        LogRecord record;
        if (!LogRecord::parse(wireText, record))
            return false;
        bool found = false;
        if (record.kind == LogKind::Catalog) {
            if (const auto catalog = LogState::catalog()) {
                if (const auto message = catalog->find(record.moduleNumber, record.messageNumber)) {
                    record.text = substitutePlaceholders(*message, record.text);
                    found = true;
                }
            }
        }
        return writer_.writeLine(record.line(found, LogState::timeMode()));
    } catch (...) {
        return false;
    }
}

} // namespace Kalvor

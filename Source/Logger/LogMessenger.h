// The transport at the end of the logging chain: takes an entry's wire text, formats it and
// writes it to its own log file.
//
// A catalog entry's text is looked up in the registered catalog (LogState); a found message has
// its placeholders filled from the entry's parameters, a missing one is written as "(Message not
// found.)" with the raw parameters. Any thread may write.
#pragma once

#include "Logger/LogFileWriter.h"

#include <string>

namespace Kalvor {

class LogMessenger {
public:
    LogMessenger() = default;
    virtual ~LogMessenger();
    LogMessenger(const LogMessenger&) = delete;
    LogMessenger& operator=(const LogMessenger&) = delete;

    // False when the wire text does not parse or the line could not be written. Never throws.
    virtual bool write(const std::string& wireText);

    LogFileWriter& writer() { return writer_; }

private:
    LogFileWriter writer_;
};

} // namespace Kalvor

// The logging settings shared by every logger unit and messenger of the process: the minimum
// severity, the debug level, the time mode, the thread-number switch and the registered message
// catalog.
//
// Set at start-up and on reconfiguration while other threads log: the numbers are atomics, and
// the catalog is replaced whole under a small mutex, so a reader keeps the catalog it took for
// as long as it needs it.
#pragma once

#include "Logger/LogCommons.h"

#include <cstdint>
#include <memory>

namespace Kalvor {

class LogState {
public:
    // 0 to 5, initially 0; values outside are ignored. 5 ("NONE") lets no catalog entry through.
    static int32_t minimumSeverity();
    static void setMinimumSeverity(int32_t severity);

    // 0 to 5, initially 5; values outside are ignored.
    static int32_t debugLevel();
    static void setDebugLevel(int32_t level);

    // TimeMode: 0 unset, 1 local (initially), 2 zulu.
    static int32_t timeMode();
    static void setTimeMode(int32_t mode);

    // Debug texts begin with the calling thread's number when on; initially off.
    static bool threadNumbers();
    static void setThreadNumbers(bool on);

    // The catalog in use; none until one is registered.
    static std::shared_ptr<const MessageCatalog> catalog();
    static void registerCatalog(std::shared_ptr<const MessageCatalog> catalog);
};

} // namespace Kalvor

// The process-wide rotation settings every log file writer of the process follows.
//
// Set at start-up and on reconfiguration, read by writers on any thread: each value is an
// atomic, the label a string under a small mutex. Writers notice a changed period or size
// limit, and a recompute request, at their next line.
#pragma once

#include "Time/TimeSpan.h"

#include <cstdint>
#include <string>

namespace Kalvor {

class LogRotation {
public:
    enum SchemeBit : int32_t { kNone = 0, kInit = 1, kTime = 2, kSize = 4 };
    static constexpr int32_t kDefaultSizeLimit = 10; // megabytes

    static int32_t scheme();
    static void setScheme(int32_t bits);

    static TimeSpan period();
    static void setPeriod(const TimeSpan& period);

    // Megabytes; 0 or less switches the size condition off.
    static int32_t sizeLimit();
    static void setSizeLimit(int32_t megabytes);

    // How many archives of a log its rotation keeps, the newest; 0 or less keeps every one.
    static int32_t keptArchives();
    static void setKeptArchives(int32_t count);

    // Set when the process starts; cleared by the first line written, and by opening a log file
    // that did not exist (a new file needs no init rotation).
    static bool initRotationPending();
    static void setInitRotationPending(bool pending);

    // Names the registry values "<label>LogOpened" and "<label>LogCounter". Default "core".
    static std::string writerLabel();
    static void setWriterLabel(const std::string& label);

    // Makes every writer recompute its next rotation time at its next line.
    static void requestRecompute();
    static uint32_t recomputeGeneration();
};

} // namespace Kalvor

#include "Logger/LogState.h"

#include "Logger/LogRecord.h"

#include <atomic>
#include <mutex>

namespace Kalvor {
namespace {

std::atomic<int32_t> minimumSeverityValue{kNotice};
std::atomic<int32_t> debugLevelValue{5};
std::atomic<int32_t> timeModeValue{kTimeLocal};
std::atomic<bool> threadNumbersValue{false};

struct CatalogSlot {
    std::mutex mutex;
    std::shared_ptr<const MessageCatalog> catalog;
};

CatalogSlot& catalogSlot() {
    static CatalogSlot slot;
    return slot;
}

bool inLevelRange(int32_t value) {
    return value >= 0 && value <= 5;
}

} // namespace

int32_t LogState::minimumSeverity() {
    return minimumSeverityValue.load();
}

void LogState::setMinimumSeverity(int32_t severity) {
    if (inLevelRange(severity))
        minimumSeverityValue.store(severity);
}

int32_t LogState::debugLevel() {
    return debugLevelValue.load();
}

void LogState::setDebugLevel(int32_t level) {
    if (inLevelRange(level))
        debugLevelValue.store(level);
}

int32_t LogState::timeMode() {
    return timeModeValue.load();
}
void LogState::setTimeMode(int32_t mode) {
    timeModeValue.store(mode);
}

bool LogState::threadNumbers() {
    return threadNumbersValue.load();
}
void LogState::setThreadNumbers(bool on) {
    threadNumbersValue.store(on);
}

std::shared_ptr<const MessageCatalog> LogState::catalog() {
    CatalogSlot& slot = catalogSlot();
    std::lock_guard<std::mutex> lock(slot.mutex);
    return slot.catalog;
}

void LogState::registerCatalog(std::shared_ptr<const MessageCatalog> catalog) {
    CatalogSlot& slot = catalogSlot();
    std::lock_guard<std::mutex> lock(slot.mutex);
    slot.catalog = std::move(catalog);
}

} // namespace Kalvor

#include "Logger/LogRotation.h"

#include <atomic>
#include <mutex>

namespace Kalvor {
namespace {

std::atomic<int32_t> schemeBits{LogRotation::kNone};
std::atomic<int32_t> periodSeconds{0};
std::atomic<int32_t> sizeLimitMegabytes{LogRotation::kDefaultSizeLimit};
std::atomic<int32_t> archivesKept{0};
std::atomic<bool> initPending{true};
std::atomic<uint32_t> generation{0};

std::mutex& labelMutex() {
    static std::mutex mutex;
    return mutex;
}

std::string& label() {
    static std::string text = "core";
    return text;
}

} // namespace

int32_t LogRotation::scheme() {
    return schemeBits.load();
}
void LogRotation::setScheme(int32_t bits) {
    schemeBits.store(bits);
}

TimeSpan LogRotation::period() {
    return TimeSpan(periodSeconds.load());
}
void LogRotation::setPeriod(const TimeSpan& period) {
    periodSeconds.store(period.totalSeconds());
}

int32_t LogRotation::sizeLimit() {
    return sizeLimitMegabytes.load();
}
void LogRotation::setSizeLimit(int32_t megabytes) {
    sizeLimitMegabytes.store(megabytes);
}

int32_t LogRotation::keptArchives() {
    return archivesKept.load();
}
void LogRotation::setKeptArchives(int32_t count) {
    archivesKept.store(count);
}

bool LogRotation::initRotationPending() {
    return initPending.load();
}
void LogRotation::setInitRotationPending(bool pending) {
    initPending.store(pending);
}

std::string LogRotation::writerLabel() {
    std::lock_guard<std::mutex> lock(labelMutex());
    return label();
}

void LogRotation::setWriterLabel(const std::string& text) {
    std::lock_guard<std::mutex> lock(labelMutex());
    label() = text;
}

void LogRotation::requestRecompute() {
    generation.fetch_add(1);
}
uint32_t LogRotation::recomputeGeneration() {
    return generation.load();
}

} // namespace Kalvor

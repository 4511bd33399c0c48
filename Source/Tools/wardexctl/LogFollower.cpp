#include "LogFollower.h"

#include "Common/Exception.h"
#include "Time/Timer.h"

#include <algorithm>
#include <ostream>

namespace Kalvor {

namespace {
constexpr int32_t kOpenFlags = FileBase::kRead | FileBase::kRenamable;
constexpr int64_t kTailBytes = int64_t{1} << 20;
constexpr uint32_t kPollMilliseconds = 200;

void printText(const std::string& text, std::ostream& out) {
    std::string lines;
    lines.reserve(text.size());
    for (const char byte : text)
        if (byte != '\r')
            lines += byte;
    out << lines << std::flush;
}
} // namespace

LogFollower::LogFollower(std::string path) : file_(std::move(path)) {}

bool LogFollower::open() {
    try {
        file_.open(kOpenFlags);
        position_ = 0;
        return true;
    } catch (const Exception&) {
        return false;
    }
}

bool LogFollower::printLast(std::size_t lines, std::ostream& out, std::string& why) {
    try {
        file_.open(kOpenFlags);
        const int64_t size = file_.size();
        const int64_t start = std::max<int64_t>(0, size - kTailBytes);
        file_.seek(start);
        const std::string text =
            size > start ? file_.read(static_cast<std::size_t>(size - start)) : std::string();
        position_ = start + static_cast<int64_t>(text.size());
        // Back from the end to the line break before the first line wanted; the one that ends
        // the last line does not count.
        std::size_t from = text.size();
        if (lines > 0 && from > 0 && text[from - 1] == '\n')
            --from;
        for (std::size_t found = 0; lines > 0 && from > 0; --from)
            if (text[from - 1] == '\n' && ++found == lines)
                break;
        printText(lines > 0 ? text.substr(from) : std::string(), out);
        return true;
    } catch (const Exception& failure) {
        why = failure.describe() + (failure.detail().empty() ? "" : " " + failure.detail());
        return false;
    }
}

void LogFollower::printNew(std::ostream& out) {
    bool told = false;
    const int64_t size = file_.openStatusOrSize(told).bytes;
    if (size < position_) // emptied in place: from its start again
        position_ = 0;
    if (size > position_) {
        file_.seek(position_);
        const std::string text = file_.read(static_cast<std::size_t>(size - position_));
        position_ += static_cast<int64_t>(text.size());
        printText(text, out);
    }
}

void LogFollower::follow(std::ostream& out, const std::function<bool()>& stop) {
    while (!stop || !stop()) {
        try {
            if (file_.isOpen() || open()) {
                printNew(out);
                // Rotated away: what it still held is printed, then the new file from its start.
                if (!file_.isStillAtPath()) {
                    printNew(out);
                    file_.abort();
                }
            }
        } catch (const Exception&) {
            file_.abort();
        }
        sleepMilliseconds(kPollMilliseconds);
    }
}

} // namespace Kalvor

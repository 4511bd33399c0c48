// A log that keeps the wire texts of every entry in memory, so a test can wait for a line and
// check the order of lines without a log file. Any thread may log into it.
#pragma once

#include "Logger/LogDispatcher.h"
#include "Logger/LogMessenger.h"
#include "Logger/LogState.h"
#include "TestSupport.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace Kalvor::Test {

class CapturingMessenger : public LogMessenger {
public:
    bool write(const std::string& wireText) override {
        std::lock_guard<std::mutex> guard(mutex_);
        lines_.push_back(wireText);
        return true;
    }
    std::vector<std::string> lines() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return lines_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

class CapturedLog {
public:
    CapturedLog()
        : messenger_(std::make_shared<CapturingMessenger>()),
          dispatcher_(std::make_shared<LogDispatcher>(2, messenger_)),
          previousLevel_(LogState::debugLevel()) {
        LogState::setDebugLevel(5);
    }
    ~CapturedLog() { LogState::setDebugLevel(previousLevel_); }
    CapturedLog(const CapturedLog&) = delete;
    CapturedLog& operator=(const CapturedLog&) = delete;

    const std::shared_ptr<LogDispatcher>& dispatcher() const { return dispatcher_; }

    // How many entries hold the text.
    std::size_t count(const std::string& text) const {
        const auto lines = messenger_->lines();
        return static_cast<std::size_t>(
            std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
                return line.find(text) != std::string::npos;
            }));
    }
    bool contains(const std::string& text) const { return count(text) > 0; }
    std::vector<std::string> lines() const { return messenger_->lines(); }
    // How many catalog entries of that message number mention the text among their parameters.
    std::size_t catalogCount(int number, const std::string& text) const {
        const std::string sep(1, '\x1C');
        const std::string kind = "Kalvor" + sep + "LOG" + sep;
        const std::string ending = sep + std::to_string(number) + sep;
        std::size_t found = 0;
        for (const std::string& line : messenger_->lines())
            if (line.rfind(kind, 0) == 0 && line.size() > ending.size() &&
                line.compare(line.size() - ending.size(), ending.size(), ending) == 0 &&
                line.find(text) != std::string::npos)
                ++found;
        return found;
    }
    // Index of the first entry holding the text, or -1.
    long indexOf(const std::string& text) const {
        const auto lines = messenger_->lines();
        for (std::size_t index = 0; index < lines.size(); ++index)
            if (lines[index].find(text) != std::string::npos)
                return static_cast<long>(index);
        return -1;
    }
    bool waitFor(const std::string& text,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10)) const {
        return Kalvor::Test::waitFor([&] { return contains(text); }, timeout);
    }

private:
    std::shared_ptr<CapturingMessenger> messenger_;
    std::shared_ptr<LogDispatcher> dispatcher_;
    int32_t previousLevel_;
};

} // namespace Kalvor::Test

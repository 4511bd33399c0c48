#include "ChildProcess.h"

#include "TestSupport.h"

namespace Kalvor::Test {

namespace {

int millisecondsUntil(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

} // namespace

ChildProcess startAsAccount(int account, const std::string& program,
                            const std::vector<std::string>& arguments,
                            const ChildProcess::Options& options) {
    const std::string id = std::to_string(account);
    std::vector<std::string> all{"--reuid=" + id, "--regid=" + id, "--clear-groups", program};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return ChildProcess("/usr/bin/setpriv", all, options);
}

std::optional<int> ChildProcess::waitForExit(std::chrono::milliseconds timeout) {
    std::optional<int> code;
    waitFor([&] { return (code = exitCode()).has_value(); }, timeout);
    return code;
}

bool ChildProcess::readLine(std::string& line, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto end = pending_.find('\n');
        if (end != std::string::npos) {
            line = pending_.substr(0, end > 0 && pending_[end - 1] == '\r' ? end - 1 : end);
            pending_.erase(0, end + 1);
            return true;
        }
        const int left = millisecondsUntil(deadline);
        if (ended_ || left == 0)
            return false;
        ended_ = !readSome(left);
    }
}

std::string ChildProcess::readToEnd(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int left = 0;
    while (!ended_ && (left = millisecondsUntil(deadline)) > 0)
        ended_ = !readSome(left);
    std::string all;
    all.swap(pending_);
    return all;
}

} // namespace Kalvor::Test

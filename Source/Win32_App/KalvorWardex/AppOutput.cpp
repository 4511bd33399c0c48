#include "Win32_App/KalvorWardex/AppOutput.h"

#include <algorithm>

namespace Kalvor {

namespace {
// Read from one pipe per report: a program that writes without pause cannot hold up the pass.
constexpr std::size_t kBytesPerReport = 1048576;
} // namespace

AppOutput::AppOutput(const std::string& path) : file_(std::make_unique<OutputLog>(path)) {}

AppOutput::~AppOutput() {
    std::vector<intptr_t> all;
    addWaitables(all);
    carry(all);
}

void AppOutput::moveTo(const std::string& path) {
    if (path != file_->path())
        file_ = std::make_unique<OutputLog>(path);
}

const OutputPipe& AppOutput::newPipe() {
    pipes_.push_back(std::make_unique<OutputPipe>());
    return *pipes_.back();
}

void AppOutput::started() {
    for (const auto& pipe : pipes_)
        pipe->closeWriteEnd();
}

void AppOutput::addWaitables(std::vector<intptr_t>& waitables) const {
    for (const auto& pipe : pipes_)
        waitables.push_back(pipe->waitable());
}

void AppOutput::carry(const std::vector<intptr_t>& reported) {
    for (auto pipe = pipes_.begin(); pipe != pipes_.end();) {
        bool ended = false;
        if (std::find(reported.begin(), reported.end(), (*pipe)->waitable()) != reported.end())
            carryFrom(**pipe, ended);
        pipe = ended ? pipes_.erase(pipe) : pipe + 1;
    }
}

void AppOutput::carryFrom(OutputPipe& pipe, bool& ended) {
    buffer_.clear();
    ended = !pipe.read(buffer_, kBytesPerReport);
    if (buffer_.empty())
        return;
    if (file_->append(buffer_.data(), buffer_.size())) {
        failure_.clear();
        failureTold_ = false;
    } else if (failure_ != file_->failure()) {
        failure_ = file_->failure();
        failureTold_ = false;
    }
}

std::string AppOutput::untoldFailure() {
    if (failure_.empty() || failureTold_)
        return "";
    failureTold_ = true;
    return failure_;
}

} // namespace Kalvor

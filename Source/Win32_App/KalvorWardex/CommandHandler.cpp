#include "Win32_App/KalvorWardex/CommandHandler.h"

#include "Common/Exception.h"
#include "Common/StringUtils.h"
#include "JobInstance/ProcessInstance.h"
#include "Logger/LoggerUnit.h"

#include <vector>

namespace Kalvor {

namespace {
const std::string kRunProg = "RUN_PROG";
const std::string kStatus = "STATUS";
const std::string kOperatorPrefix = "APP_";
constexpr auto kDropLinePause = std::chrono::seconds(1);

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.size() > prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

// The name of what a message would make the supervisor do or disclose; empty when it steers
// nothing and discloses nothing.
std::string steeringCommand(const std::string& type, const std::string& text) {
    if (type == "REPLY" || type == kRunProg)
        return type;
    if (type != "COMMAND")
        return "";
    if (text == "DIE" || text == "RECONFIG" || text == kStatus)
        return "COMMAND " + text;
    if (startsWith(text, kOperatorPrefix))
        return "COMMAND " + text.substr(0, text.find(':'));
    return startsWith(text, kRunProg) ? "COMMAND " + kRunProg : "";
}
} // namespace

bool parseOperatorRequest(const std::string& text, OperatorRequest& request) {
    if (!startsWith(text, kOperatorPrefix))
        return false;
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos)
        return false;
    request.verb = text.substr(kOperatorPrefix.size(), colon - kOperatorPrefix.size());
    std::string rest = text.substr(colon + 1);
    if (request.verb == "SIGNAL") {
        const std::size_t next = rest.find(':');
        if (next == std::string::npos)
            return false;
        request.signal = rest.substr(0, next);
        rest.erase(0, next + 1);
    } else if (request.verb != "START" && request.verb != "STOP" && request.verb != "RESTART" &&
               request.verb != "LOGPATH" && request.verb != "CONFPATH") {
        return false;
    }
    request.name = rest;
    // LOGPATH without a name asks for the supervisor's own log; CONFPATH takes none.
    return !request.name.empty() || request.verb == "LOGPATH" || request.verb == "CONFPATH";
}

CommandHandler::CommandHandler(std::shared_ptr<LoggerUnit> logger, Targets targets)
    : logger_(std::move(logger)), targets_(std::move(targets)) {}

void CommandHandler::operator()(const std::string& type, const std::string& id,
                                const std::string& text, const std::string& sender,
                                const std::optional<SenderIdentity>& from) {
    if (targets_.stop.requested())
        return;
    if (!isOwnAccountOrAdministrator(from)) {
        const std::string steering = steeringCommand(type, text);
        if (!steering.empty()) {
            noteDropped(steering, *from);
            return;
        }
    }
    logger_->debug(2, "IPC from %s: Received message \"%s\".",
                   LogParams() << quotedExcerpt(sender) << quotedExcerpt(type));
    if (type == "COMMAND") {
        command(text, sender);
    } else if (type == "REPLY") {
        logger_->debug(2, "IPC: Received reply \"%s\" with id \"%s\".",
                       LogParams() << quotedExcerpt(text) << quotedExcerpt(id));
        if (id == "SEND_PROCESS_INFO" && !targets_.storeProcessInfo(text, sender, from))
            logger_->debug(2, "IPC: Cannot store process info.");
    } else if (type == kRunProg) {
        logger_->debug(2, "IPC: Received run command: \"%s\".", LogParams() << quotedExcerpt(text));
        runProgramLine(text);
    } else {
        logger_->debug(1, "IPC: Received an unknown type.");
    }
}

void CommandHandler::command(const std::string& text, const std::string& sender) {
    logger_->debug(3, "IPC: Received command \"%s\".", LogParams() << quotedExcerpt(text));
    if (text == "DIE") {
        logger_->debug(3, "Quitting.");
        targets_.stop.request(StopFlag::kCommand);
    } else if (text == "RECONFIG") {
        // Requested first, so that the answer is never the one of the reconfiguration before.
        targets_.reconfigureRequested.store(true);
        if (!sender.empty())
            targets_.operatorRequest({"RECONFIG", "", "", sender});
    } else if (text == kStatus) {
        answerStatus(sender);
    } else if (OperatorRequest request; parseOperatorRequest(text, request)) {
        if (sender.empty()) {
            logger_->debug(1, "IPC: An operator's command names no mailslot to answer to.");
            return;
        }
        request.asker = sender;
        targets_.operatorRequest(std::move(request));
    } else if (text == "STATUS_CHECK") {
        logger_->debug(3, "IPC: Was checked by %s.", LogParams() << quotedExcerpt(sender));
    } else if (startsWith(text, kRunProg)) {
        const std::string line = text.substr(kRunProg.size());
        logger_->debug(2, "IPC: Received run command: \"%s\".", LogParams() << quotedExcerpt(line));
        runProgramLine(line);
    } else {
        logger_->debug(1, "IPC: Received an unknown command.");
    }
}

void CommandHandler::noteDropped(const std::string& what, const SenderIdentity& from) {
    const auto now = std::chrono::steady_clock::now();
    if (now < nextDropLine_)
        return;
    nextDropLine_ = now + kDropLinePause;
    logger_->debug(1,
                   "IPC: Dropped %s from account %i: only this account and the administrator "
                   "may steer Wardex.",
                   LogParams() << what << static_cast<int64_t>(from.userId));
}

void CommandHandler::answerStatus(const std::string& asker) {
    if (asker.empty()) {
        logger_->debug(1, "IPC: A status request names no mailslot to answer to.");
        return;
    }
    try {
        if (!targets_.send(asker, "REPLY", kStatus, targets_.statusText()))
            logger_->debug(1, "IPC: Cannot send the status to %s.",
                           LogParams() << quotedExcerpt(asker));
    } catch (Exception& failure) {
        failure.addLocation(KALVOR_HERE);
        logger_->debug(1, failure.report());
    }
}

void CommandHandler::runProgramLine(const std::string& line) {
    if (countChar('|', line, 0, line.size()) != 1) {
        logger_->debug(1, "IPC: Cannot run this.");
        return;
    }
    const std::size_t bar = line.find('|');
    try {
        targets_.runProgram(line.substr(0, bar), line.substr(bar + 1));
    } catch (Exception& failure) {
        failure.addLocation(KALVOR_HERE);
        logger_->debug(1, failure.report());
    }
}

void startDetachedProgram(const std::string& path, const std::string& arguments) {
    ProcessInstance job(path, arguments);
    job.execute();
}

} // namespace Kalvor

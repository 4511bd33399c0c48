#include "Win32_App/KalvorWardex/CommandHandler.h"

#include "Common/Exception.h"
#include "Common/StringUtils.h"
#include "JobInstance/ProcessInstance.h"
#include "Logger/LoggerUnit.h"

#include <vector>

namespace Kalvor {

namespace {
const std::string kRunProg = "RUN_PROG";
} // namespace

CommandHandler::CommandHandler(std::shared_ptr<LoggerUnit> logger, Targets targets)
    : logger_(std::move(logger)), targets_(std::move(targets)) {}

void CommandHandler::operator()(const std::string& type, const std::string& id,
                                const std::string& text, const std::string& sender) {
    if (targets_.shutdownRequested.load())
        return;
    logger_->debug(2, "IPC from %s: Received message \"%s\".", LogParams() << sender << type);
    if (type == "COMMAND") {
        command(text, sender);
    } else if (type == "REPLY") {
        logger_->debug(2, "IPC: Received reply \"%s\" with id \"%s\".", LogParams() << text << id);
        if (id == "SEND_PROCESS_INFO" && !targets_.storeProcessInfo(text))
            logger_->debug(2, "IPC: Cannot store process info.");
    } else if (type == kRunProg) {
        logger_->debug(2, "IPC: Received run command: \"%s\".", LogParams() << text);
        runProgramLine(text);
    } else {
        logger_->debug(1, "IPC: Received an unknown type.");
    }
}

void CommandHandler::command(const std::string& text, const std::string& sender) {
    logger_->debug(3, "IPC: Received command \"%s\".", LogParams() << text);
    if (text == "DIE") {
        logger_->debug(3, "Quitting.");
        targets_.shutdownRequested.store(true);
    } else if (text == "RECONFIG") {
        targets_.reconfigureRequested.store(true);
    } else if (text == "STATUS_CHECK") {
        logger_->debug(3, "IPC: Was checked by %s.", LogParams() << sender);
    } else if (text.size() > kRunProg.size() && text.compare(0, kRunProg.size(), kRunProg) == 0) {
        const std::string line = text.substr(kRunProg.size());
        logger_->debug(2, "IPC: Received run command: \"%s\".", LogParams() << line);
        runProgramLine(line);
    } else {
        logger_->debug(1, "IPC: Received an unknown command.");
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

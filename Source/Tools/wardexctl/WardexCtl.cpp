#include "WardexCtl.h"

#include "StatusOutput.h"
#include "SupervisorLink.h"

#include "Common/Exception.h"
#include "Common/UserName.h"
#include "IPC/MailSlot.h"
#include "IPC/StatusReport.h"

#include <algorithm>
#include <ostream>

namespace Kalvor {

namespace {

constexpr const char* kUsage =
    "Usage: wardexctl [--account NAME] COMMAND\n"
    "  wardexctl status [--json]\n"
    "      Prints the applications the Wardex of this account supervises: a table with the\n"
    "      columns NAME, STATE, PID, RESTARTS and STARTED, or with --json a JSON array.\n"
    "  wardexctl reconfig\n"
    "      Has the Wardex read its configuration again.\n"
    "  wardexctl stop\n"
    "      Has the Wardex stop its applications and end.\n"
    "  wardexctl --help\n"
    "--account NAME addresses the Wardex of another account, by name or number (root only).\n"
    "Exit value: 0 done, 1 failed, 2 bad arguments, 3 no Wardex answers for this account.\n";

struct UsageError {
    std::string message;
};

enum class Action { Status, StatusJson, Reconfig, Stop };

Action parse(const std::vector<std::string>& arguments) {
    if (arguments.empty())
        throw UsageError{"no command given"};
    const std::string& command = arguments[0];
    if (command == "status" && arguments.size() == 1)
        return Action::Status;
    if (command == "status" && arguments.size() == 2 && arguments[1] == "--json")
        return Action::StatusJson;
    if (command == "reconfig" && arguments.size() == 1)
        return Action::Reconfig;
    if (command == "stop" && arguments.size() == 1)
        return Action::Stop;
    if (command == "status" || command == "reconfig" || command == "stop")
        throw UsageError{"unexpected argument \"" + arguments.back() + "\""};
    throw UsageError{"unknown command \"" + command + "\""};
}

// "--account NAME" in front: taken off the arguments; empty when not given.
std::string takeAccount(std::vector<std::string>& arguments) {
    if (arguments.empty() || arguments[0] != "--account")
        return "";
    if (arguments.size() < 2 || arguments[1].empty())
        throw UsageError{"--account needs an account name or number"};
    const std::string account = arguments[1];
    arguments.erase(arguments.begin(), arguments.begin() + 2);
    return account;
}

int noSupervisor(const SupervisorLink& link, const std::string& account, std::ostream& err) {
    err << "wardexctl: no Wardex answers for "
        << (account.empty() ? std::string("this account") : "account \"" + account + "\"")
        << " (mailslot \"" << link.mailslot() << "\")\n";
    return kCtlNoSupervisor;
}

int status(SupervisorLink& link, bool json, const std::string& account,
           const WardexCtlSettings& settings, std::ostream& out, std::ostream& err) {
    const std::optional<std::string> answer =
        link.askStatus(settings.answerWait, settings.stopRequested);
    if (settings.stopRequested && settings.stopRequested()) {
        err << "wardexctl: interrupted\n";
        return kCtlFailed;
    }
    if (!answer)
        return noSupervisor(link, account, err);
    std::vector<StatusRecord> records;
    if (!unpackStatus(*answer, records)) {
        err << "wardexctl: the Wardex's status answer cannot be read\n";
        return kCtlFailed;
    }
    out << (json ? statusJson(records) : statusTable(records)) << std::flush;
    return kCtlDone;
}

} // namespace

int runWardexCtl(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
                 const WardexCtlSettings& settings) {
    try {
        if (std::any_of(arguments.begin(), arguments.end(),
                        [](const std::string& word) { return word == "--help" || word == "-h"; })) {
            out << kUsage;
            return kCtlDone;
        }
        std::vector<std::string> words = arguments;
        const std::string account = takeAccount(words);
        const Action action = parse(words);
        std::string userTag = settings.userTag;
        if (!account.empty()) {
            std::string why;
            if (!MailSlot::useAccount(account, why)) {
                err << "wardexctl: " << why << "\n";
                return kCtlFailed;
            }
            if (userTag.empty())
                userTag = userTagOf(accountNameOf(account));
        }
        if (userTag.empty())
            userTag = currentUserTag();
        if (userTag.empty()) {
            err << "wardexctl: the account name is unknown, so the Wardex cannot be named\n";
            return kCtlFailed;
        }
        SupervisorLink link(userTag);
        switch (action) {
        case Action::Status:
        case Action::StatusJson:
            return status(link, action == Action::StatusJson, account, settings, out, err);
        case Action::Reconfig:
            return link.command("RECONFIG") ? kCtlDone : noSupervisor(link, account, err);
        case Action::Stop:
            return link.command("DIE") ? kCtlDone : noSupervisor(link, account, err);
        }
        return kCtlFailed;
    } catch (const UsageError& error) {
        err << "wardexctl: " << error.message << "\n" << kUsage;
        return kCtlUsage;
    } catch (const Exception& error) {
        err << "wardexctl: " << error.report() << "\n";
        return kCtlFailed;
    }
}

} // namespace Kalvor

#include "WardexCtl.h"

#include "StatusOutput.h"
#include "SupervisorLink.h"

#include "Common/Exception.h"
#include "Common/UserName.h"
#include "Config/ConfEdit.h"
#include "File/FileOps.h"
#include "File/FilePlain.h"
#include "JobInstance/CommandLine.h"
#include "IPC/MailSlot.h"
#include "IPC/StatusReport.h"
#include "IpcCommand.h"
#include "LogFollower.h"

#include <algorithm>
#include <ostream>

namespace Kalvor {

namespace {

// An operator's command is answered once it is carried out or under way: at once, but for a
// supervisor busy with its pass.
constexpr auto kOperatorWait = std::chrono::seconds(10);

constexpr const char* kUsage =
    "Usage: wardexctl [--account NAME] COMMAND\n"
    "  wardexctl status [--json] [NAME...]\n"
    "      Prints the applications the Wardex of this account supervises (or those named): a\n"
    "      table with the columns NAME, STATE, PID, RESTARTS, STARTED and LAST EXIT, or with\n"
    "      --json a JSON array.\n"
    "  wardexctl start NAME...\n"
    "      Starts each now: one held, given up or waiting to be restarted too.\n"
    "  wardexctl stop NAME...\n"
    "      Stops each (DIE, the polite signal, the kill) and holds it stopped until it is\n"
    "      started again or the Wardex restarts.\n"
    "  wardexctl restart NAME...\n"
    "      Stops each, then starts it.\n"
    "  wardexctl signal NAME SIGNAL\n"
    "      posix: sends the signal (TERM, SIGHUP, 9 ...) to the application's process group;\n"
    "      win32: \"close\" asks its windows to close, \"kill\" ends it.\n"
    "  wardexctl log [NAME] [-f] [-n LINES]\n"
    "      Prints the last LINES (10) lines of the application's output file, or of the\n"
    "      Wardex's own log without a NAME; -f follows it, also across rotations, until\n"
    "      Ctrl-C.\n"
    "  wardexctl add NAME [--inactive] [--directory DIR] -- COMMAND [ARG...]\n"
    "      Lists a program in the Wardex's configuration file and has it read again.\n"
    "  wardexctl remove NAME\n"
    "      Takes the entry out again (the rest of the file stays as it was); the Wardex\n"
    "      stops the application.\n"
    "  wardexctl reconfig\n"
    "      Has the Wardex read its configuration again, and says what failed: what runs\n"
    "      then runs on as it was. Applications no longer listed are stopped.\n"
    "  wardexctl shutdown\n"
    "      Has the Wardex stop its applications and end.\n"
    "  wardexctl --help\n"
    "--account NAME addresses the Wardex of another account, by name or number (root only).\n"
    "Exit value: 0 done, 1 failed (for any name), 2 bad arguments, 3 no Wardex answers for\n"
    "this account.\n";

struct UsageError {
    std::string message;
};

enum class Action { Status, Reconfig, Shutdown, Start, Stop, Restart, Signal, Log, Add, Remove };

struct Request {
    Action action = Action::Status;
    bool json = false;
    std::vector<std::string> names;
    std::string signal;
    bool follow = false;
    std::size_t lines = 10;
    bool inactive = false;
    std::string directory;
    std::vector<std::string> command;
};

// A name the configuration and every message can carry as it is.
void requirePlainName(const std::string& name) {
    if (name.empty() ||
        name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-") !=
            std::string::npos)
        throw UsageError{"an application NAME is letters, digits, \"_\" and \"-\" only"};
}

// add NAME [--inactive] [--directory DIR] -- COMMAND [ARG...]
Request parseAdd(const std::vector<std::string>& rest) {
    Request request;
    request.action = Action::Add;
    std::size_t i = 0;
    for (; i < rest.size() && rest[i] != "--"; ++i) {
        if (rest[i] == "--inactive")
            request.inactive = true;
        else if (rest[i] == "--directory" && i + 1 < rest.size())
            request.directory = rest[++i];
        else if (rest[i].rfind("-", 0) == 0 || !request.names.empty())
            throw UsageError{"unexpected argument \"" + rest[i] + "\""};
        else
            request.names.push_back(rest[i]);
    }
    if (request.names.empty() || i + 1 >= rest.size())
        throw UsageError{"add needs NAME, then -- and the COMMAND"};
    requirePlainName(request.names[0]);
    request.command.assign(rest.begin() + static_cast<std::ptrdiff_t>(i) + 1, rest.end());
    return request;
}

// log [NAME] [-f] [-n LINES]
Request parseLog(const std::vector<std::string>& rest) {
    Request request;
    request.action = Action::Log;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == "-f") {
            request.follow = true;
        } else if (rest[i] == "-n") {
            const std::string count = i + 1 < rest.size() ? rest[++i] : "";
            if (count.empty() || count.size() > 9 ||
                count.find_first_not_of("0123456789") != std::string::npos)
                throw UsageError{"-n needs a number of lines"};
            request.lines = static_cast<std::size_t>(std::stoul(count));
        } else if (rest[i].rfind("-", 0) == 0 || !request.names.empty()) {
            throw UsageError{"unexpected argument \"" + rest[i] + "\""};
        } else {
            request.names.push_back(rest[i]);
        }
    }
    return request;
}

Request parse(const std::vector<std::string>& arguments) {
    if (arguments.empty())
        throw UsageError{"no command given"};
    const std::string& command = arguments[0];
    Request request;
    const std::vector<std::string> rest(arguments.begin() + 1, arguments.end());
    if (command == "status") {
        for (const std::string& word : rest) {
            if (word == "--json" && !request.json)
                request.json = true;
            else if (word.rfind("-", 0) == 0)
                throw UsageError{"unexpected argument \"" + word + "\""};
            else
                request.names.push_back(word);
        }
        return request;
    }
    const struct {
        const char* word;
        Action action;
    } perName[] = {{"start", Action::Start}, {"stop", Action::Stop}, {"restart", Action::Restart}};
    for (const auto& entry : perName) {
        if (command != entry.word)
            continue;
        // A forgotten name must never stop everything.
        if (rest.empty())
            throw UsageError{command + " needs the NAME of an application"};
        for (const std::string& word : rest)
            if (word.rfind("-", 0) == 0)
                throw UsageError{"unexpected argument \"" + word + "\""};
        request.action = entry.action;
        request.names = rest;
        return request;
    }
    if (command == "log")
        return parseLog(rest);
    if (command == "add")
        return parseAdd(rest);
    if (command == "remove") {
        if (rest.size() != 1)
            throw UsageError{"remove needs the NAME of an application"};
        request.action = Action::Remove;
        request.names = rest;
        return request;
    }
    if (command == "signal") {
        if (rest.size() != 2)
            throw UsageError{"signal needs NAME and SIGNAL"};
        request.action = Action::Signal;
        request.names = {rest[0]};
        request.signal = rest[1];
        return request;
    }
    if ((command == "reconfig" || command == "shutdown") && !rest.empty())
        throw UsageError{"unexpected argument \"" + rest.back() + "\""};
    if (command == "reconfig") {
        request.action = Action::Reconfig;
        return request;
    }
    if (command == "shutdown") {
        request.action = Action::Shutdown;
        return request;
    }
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

bool interrupted(const WardexCtlSettings& settings, std::ostream& err) {
    if (!settings.stopRequested || !settings.stopRequested())
        return false;
    err << "wardexctl: interrupted\n";
    return true;
}

int status(SupervisorLink& link, const Request& request, const std::string& account,
           const WardexCtlSettings& settings, std::ostream& out, std::ostream& err) {
    const std::optional<std::string> answer =
        link.askStatus(settings.answerWait, settings.stopRequested);
    if (interrupted(settings, err))
        return kCtlFailed;
    if (!answer)
        return noSupervisor(link, account, err);
    std::vector<StatusRecord> records;
    if (!unpackStatus(*answer, records)) {
        err << "wardexctl: the Wardex's status answer cannot be read\n";
        return kCtlFailed;
    }
    int exit = kCtlDone;
    if (!request.names.empty()) {
        std::vector<StatusRecord> named;
        for (const std::string& name : request.names) {
            const auto found =
                std::find_if(records.begin(), records.end(),
                             [&](const StatusRecord& record) { return record.name == name; });
            if (found == records.end()) {
                err << "wardexctl: " << visibleText(name) << ": no such application\n";
                exit = kCtlFailed;
            } else {
                named.push_back(*found);
            }
        }
        records = std::move(named);
    }
    out << (request.json ? statusJson(records) : statusTable(records)) << std::flush;
    return exit;
}

// Answered once the configuration was read again: "OK", or why not (the applications then run
// on as they were).
int reconfig(SupervisorLink& link, const std::string& account, const WardexCtlSettings& settings,
             std::ostream& err) {
    const std::optional<std::string> answer =
        link.ask("RECONFIG", "RECONFIG", kOperatorWait, settings.stopRequested);
    if (interrupted(settings, err))
        return kCtlFailed;
    if (!answer)
        return noSupervisor(link, account, err);
    if (*answer == "OK")
        return kCtlDone;
    const std::string why = answer->rfind("FAILED ", 0) == 0 ? answer->substr(7) : *answer;
    err << "wardexctl: the configuration was not taken: " << visibleText(why) << "\n";
    return kCtlFailed;
}

// The supervisor names the file (its own log, or the application's output file); wardexctl
// reads it itself.
int log(SupervisorLink& link, const Request& request, const std::string& account,
        const WardexCtlSettings& settings, std::ostream& out, std::ostream& err) {
    const std::string name = request.names.empty() ? "" : request.names[0];
    const std::optional<std::string> answer =
        link.ask("APP_LOGPATH:" + name, "APP", kOperatorWait, settings.stopRequested);
    if (interrupted(settings, err))
        return kCtlFailed;
    if (!answer)
        return noSupervisor(link, account, err);
    if (answer->rfind("PATH ", 0) != 0) {
        const std::string why = answer->rfind("FAILED ", 0) == 0 ? answer->substr(7) : *answer;
        err << "wardexctl: " << (name.empty() ? "the log" : visibleText(name)) << ": "
            << visibleText(why) << "\n";
        return kCtlFailed;
    }
    LogFollower file(answer->substr(5));
    std::string why;
    if (!file.printLast(request.lines, out, why)) {
        err << "wardexctl: " << visibleText(answer->substr(5)) << ": " << visibleText(why) << "\n";
        return kCtlFailed;
    }
    if (request.follow)
        file.follow(out, settings.stopRequested);
    return kCtlDone;
}

// The file the supervisor reads, changed as text around the one entry and written whole; then
// read again by the supervisor, whose answer decides the exit value.
int edit(SupervisorLink& link, const Request& request, const std::string& account,
         const WardexCtlSettings& settings, std::ostream& out, std::ostream& err) {
    const std::optional<std::string> answer =
        link.ask("APP_CONFPATH:", "APP", kOperatorWait, settings.stopRequested);
    if (interrupted(settings, err))
        return kCtlFailed;
    if (!answer)
        return noSupervisor(link, account, err);
    if (answer->rfind("PATH ", 0) != 0) {
        err << "wardexctl: " << visibleText(*answer) << "\n";
        return kCtlFailed;
    }
    const std::string path = answer->substr(5);
    const std::string& name = request.names[0];
    std::string text;
    std::string edited;
    std::string why;
    try {
        if (FileOps::exists(path)) {
            FilePlain file(path);
            file.open(FileBase::kRead);
            text = file.readAll();
            file.close();
        }
        ConfEdit::Keys keys = {{"active(Bool)", request.inactive ? "false" : "true"},
                               {"id(String)", name}};
        if (request.action == Action::Add)
            keys.push_back({"command(String)", joinCommandLine(request.command)});
        if (!request.directory.empty())
            keys.push_back({"directory(DirName)", request.directory});
        const bool done = request.action == Action::Add
                              ? ConfEdit::addApplication(text, name, keys, edited, why)
                              : ConfEdit::removeApplication(text, name, edited, why);
        if (!done) {
            err << "wardexctl: " << visibleText(path) << ": " << visibleText(why) << "\n";
            return kCtlFailed;
        }
        FilePlain file(path);
        file.open(FileBase::kWrite);
        file.write(edited);
        file.close();
    } catch (const Exception& failure) {
        err << "wardexctl: " << failure.report() << "\n";
        return kCtlFailed;
    }
    out << visibleText(name) << (request.action == Action::Add ? ": added to " : ": removed from ")
        << visibleText(path) << "\n";
    return reconfig(link, account, settings, err);
}

// Each name in turn, as the supervisor answers for it.
int perApplication(SupervisorLink& link, const Request& request, const std::string& account,
                   const WardexCtlSettings& settings, std::ostream& out, std::ostream& err) {
    const char* verb = request.action == Action::Start     ? "START"
                       : request.action == Action::Stop    ? "STOP"
                       : request.action == Action::Restart ? "RESTART"
                                                           : "SIGNAL";
    const char* done = request.action == Action::Start     ? "started"
                       : request.action == Action::Stop    ? "stopping, then held"
                       : request.action == Action::Restart ? "restarting"
                                                           : "signalled";
    int exit = kCtlDone;
    for (const std::string& name : request.names) {
        const std::string command = std::string("APP_") + verb + ":" +
                                    (request.signal.empty() ? "" : request.signal + ":") + name;
        const std::optional<std::string> answer =
            link.ask(command, "APP", kOperatorWait, settings.stopRequested);
        if (interrupted(settings, err))
            return kCtlFailed;
        if (!answer)
            return noSupervisor(link, account, err);
        if (*answer == "OK") {
            out << visibleText(name) << ": " << done << "\n" << std::flush;
        } else {
            const std::string why = answer->rfind("FAILED ", 0) == 0 ? answer->substr(7) : *answer;
            err << "wardexctl: " << visibleText(name) << ": " << visibleText(why) << "\n";
            exit = kCtlFailed;
        }
    }
    return exit;
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
        const Request request = parse(words);
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
        switch (request.action) {
        case Action::Status:
            return status(link, request, account, settings, out, err);
        case Action::Reconfig:
            return reconfig(link, account, settings, err);
        case Action::Shutdown:
            return link.command("DIE") ? kCtlDone : noSupervisor(link, account, err);
        case Action::Start:
        case Action::Stop:
        case Action::Restart:
        case Action::Signal:
            return perApplication(link, request, account, settings, out, err);
        case Action::Log:
            return log(link, request, account, settings, out, err);
        case Action::Add:
        case Action::Remove:
            return edit(link, request, account, settings, out, err);
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

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

// One run's link to the supervisor, and where it speaks.
struct Session {
    SupervisorLink& link;
    const std::string& account;
    const WardexCtlSettings& settings;
    std::ostream& out;
    std::ostream& err;

    int noSupervisor() const {
        err << "wardexctl: no Wardex answers for "
            << (account.empty() ? std::string("this account") : "account \"" + account + "\"")
            << " (mailslot \"" << link.mailslot() << "\")\n";
        return kCtlNoSupervisor;
    }

    // The supervisor's answer to `command`; nullopt when there is none, with `exit` set and the
    // reason said (interrupted, or no supervisor answers).
    std::optional<std::string> ask(const std::string& command, const std::string& replyId,
                                   std::chrono::milliseconds wait, int& exit) const {
        std::optional<std::string> answer =
            link.ask(command, replyId, wait, settings.stopRequested);
        if (settings.stopRequested && settings.stopRequested()) {
            err << "wardexctl: interrupted\n";
            exit = kCtlFailed;
            return std::nullopt;
        }
        if (!answer)
            exit = noSupervisor();
        return answer;
    }

    // Says a refusal ("FAILED <why>") about `what`; the exit value.
    int refused(const std::string& what, const std::string& answer) const {
        const std::string why = answer.rfind(kFailed, 0) == 0 ? answer.substr(kFailed.size())
                                                                : answer;
        err << "wardexctl: " << what << ": " << readableText(why) << "\n";
        return kCtlFailed;
    }

    static inline const std::string kFailed = "FAILED ";
};

const std::string kPathAnswer = "PATH ";

int status(const Session& session, const Request& request) {
    int exit = kCtlDone;
    const std::optional<std::string> answer =
        session.ask("STATUS", "STATUS", session.settings.answerWait, exit);
    if (!answer)
        return exit;
    std::vector<StatusRecord> records;
    if (!unpackStatus(*answer, records)) {
        session.err << "wardexctl: the Wardex's status answer cannot be read\n";
        return kCtlFailed;
    }
    if (!request.names.empty()) {
        std::vector<StatusRecord> named;
        for (const std::string& name : request.names) {
            const auto found =
                std::find_if(records.begin(), records.end(),
                             [&](const StatusRecord& record) { return record.name == name; });
            if (found == records.end())
                exit = session.refused(visibleText(name), "no such application");
            else
                named.push_back(*found);
        }
        records = std::move(named);
    }
    session.out << (request.json ? statusJson(records) : statusTable(records)) << std::flush;
    return exit;
}

// Answered once the configuration was read again: "OK", or why not (the applications then run
// on as they were).
int reconfig(const Session& session) {
    int exit = kCtlDone;
    const std::optional<std::string> answer = session.ask("RECONFIG", "RECONFIG", kOperatorWait, exit);
    if (!answer || *answer == "OK")
        return exit;
    return session.refused("the configuration was not taken", *answer);
}

// The file the supervisor names for the command (APP_LOGPATH, APP_CONFPATH); empty when it
// names none, with the exit value set and the reason said.
std::string namedFile(const Session& session, const std::string& command, const std::string& what,
                      int& exit) {
    const std::optional<std::string> answer = session.ask(command, "APP", kOperatorWait, exit);
    if (!answer)
        return "";
    if (answer->rfind(kPathAnswer, 0) != 0) {
        exit = session.refused(what, *answer);
        return "";
    }
    return answer->substr(kPathAnswer.size());
}

// The supervisor names the file (its own log, or the application's output file); wardexctl
// reads it itself.
int log(const Session& session, const Request& request) {
    const std::string name = request.names.empty() ? "" : request.names[0];
    int exit = kCtlDone;
    const std::string path = namedFile(session, "APP_LOGPATH:" + name,
                                       name.empty() ? "the log" : visibleText(name), exit);
    if (path.empty())
        return exit;
    LogFollower file(path);
    std::string why;
    if (!file.printLast(request.lines, session.out, why))
        return session.refused(readableText(path), why);
    if (request.follow)
        file.follow(session.out, session.settings.stopRequested);
    return kCtlDone;
}

// The file the supervisor reads, changed as text around the one entry and written whole; then
// read again by the supervisor, whose answer decides the exit value.
int edit(const Session& session, const Request& request) {
    int exit = kCtlDone;
    const std::string path = namedFile(session, "APP_CONFPATH:", "the configuration", exit);
    if (path.empty())
        return exit;
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
        if (!done)
            return session.refused(readableText(path), why);
        FilePlain file(path);
        file.open(FileBase::kWrite);
        file.write(edited);
        file.close();
    } catch (const Exception& failure) {
        session.err << "wardexctl: " << failure.summary() << "\n";
        return kCtlFailed;
    }
    session.out << visibleText(name)
                << (request.action == Action::Add ? ": added to " : ": removed from ")
                << readableText(path) << "\n";
    return reconfig(session);
}

// Each name in turn, as the supervisor answers for it.
int perApplication(const Session& session, const Request& request) {
    static const struct {
        Action action;
        const char* verb;
        const char* done;
    } kVerbs[] = {{Action::Start, "START", "started"},
                  {Action::Stop, "STOP", "stopping, then held"},
                  {Action::Restart, "RESTART", "restarting"},
                  {Action::Signal, "SIGNAL", "signalled"}};
    const auto* verb = std::find_if(std::begin(kVerbs), std::end(kVerbs),
                                    [&](const auto& entry) { return entry.action == request.action; });
    int exit = kCtlDone;
    for (const std::string& name : request.names) {
        const std::string command = std::string("APP_") + verb->verb + ":" +
                                    (request.signal.empty() ? "" : request.signal + ":") + name;
        int unanswered = kCtlDone;
        const std::optional<std::string> answer =
            session.ask(command, "APP", kOperatorWait, unanswered);
        if (!answer)
            return unanswered;
        if (*answer == "OK")
            session.out << visibleText(name) << ": " << verb->done << "\n" << std::flush;
        else
            exit = session.refused(visibleText(name), *answer);
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
        const Session session{link, account, settings, out, err};
        switch (request.action) {
        case Action::Status:
            return status(session, request);
        case Action::Reconfig:
            return reconfig(session);
        case Action::Shutdown:
            return link.command("DIE") ? kCtlDone : session.noSupervisor();
        case Action::Start:
        case Action::Stop:
        case Action::Restart:
        case Action::Signal:
            return perApplication(session, request);
        case Action::Log:
            return log(session, request);
        case Action::Add:
        case Action::Remove:
            return edit(session, request);
        }
        return kCtlFailed;
    } catch (const UsageError& error) {
        err << "wardexctl: " << error.message << "\n" << kUsage;
        return kCtlUsage;
    } catch (const Exception& error) {
        err << "wardexctl: " << error.summary() << "\n";
        return kCtlFailed;
    }
}

} // namespace Kalvor

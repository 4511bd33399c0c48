#include "IpcCommand.h"

#include "Common/Exception.h"
#include "IPC/IPCClient.h"
#include "IPC/IPCMessage.h"
#include "IPC/MailSlot.h"
#include "Time/Timer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ostream>

namespace Kalvor {

namespace {

constexpr const char* kUsage =
    "Usage: kalvor-ipc [--account NAME] COMMAND\n"
    "  kalvor-ipc send TARGET TYPE ID TEXT [SENDER]\n"
    "      Sends one message line to the mailslot TARGET.\n"
    "  kalvor-ipc listen NAME [--count N] [--seconds S] [--raw]\n"
    "      Creates the mailslot NAME and prints each line received as TYPE, ID, TEXT and\n"
    "      SENDER separated by tabs (--raw: the whole line), ESC shown as \\e, tab as \\t,\n"
    "      line breaks as \\n and \\r, backslash as \\\\, other control bytes as \\xHH.\n"
    "      Lines not addressed to Kalvor are printed whole after \"#ignored\" and a tab.\n"
    "      Ends after N lines, S seconds or on Ctrl-C.\n"
    "  kalvor-ipc --help\n"
    "--account NAME: the mailslots of that account, by name or number (root only).\n"
    "Exit value: 0 done, 1 failed (the error's report on standard error), 2 bad arguments.\n";
constexpr uint32_t kPollMilliseconds = 10;

struct UsageError {
    std::string message;
};

struct ListenOptions {
    std::string name;
    long count = 0;       // 0: no limit
    double seconds = 0.0; // 0: no limit
    bool raw = false;
};

double positiveNumber(const std::string& option, const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(value > 0.0))
        throw UsageError{option + " needs a positive number, not \"" + text + "\""};
    return value;
}

ListenOptions parseListen(const std::vector<std::string>& arguments) {
    ListenOptions options;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& word = arguments[i];
        if (word == "--raw") {
            options.raw = true;
        } else if (word == "--count" || word == "--seconds") {
            if (i + 1 == arguments.size())
                throw UsageError{word + " needs a value"};
            const double value = positiveNumber(word, arguments[++i]);
            if (word == "--seconds")
                options.seconds = value;
            else if (value != static_cast<double>(static_cast<long>(value)))
                throw UsageError{"--count needs a whole number"};
            else
                options.count = static_cast<long>(value);
        } else if (word.rfind("--", 0) == 0 || !options.name.empty()) {
            throw UsageError{"unexpected argument \"" + word + "\""};
        } else {
            options.name = word;
        }
    }
    if (options.name.empty())
        throw UsageError{"listen needs a mailslot NAME"};
    return options;
}

int runSend(const std::vector<std::string>& arguments) {
    if (arguments.size() != 5 && arguments.size() != 6)
        throw UsageError{"send needs TARGET TYPE ID TEXT and optionally SENDER"};
    IPCClient client(arguments[1]);
    return client.send(arguments[2], arguments[3], arguments[4],
                       arguments.size() == 6 ? arguments[5] : std::string())
               ? 0
               : 1;
}

int runListen(const ListenOptions& options, std::ostream& out, std::ostream& err,
              const std::function<bool()>& stopRequested) {
    MailSlot slot(MailSlot::kReceiver, options.name);
    err << "kalvor-ipc: listening on \"" << options.name << "\"" << std::endl;
    const auto start = std::chrono::steady_clock::now();
    const auto timeLimit = std::chrono::duration<double>(options.seconds);
    long printed = 0;
    std::vector<std::string> lines;
    for (;;) {
        lines.clear();
        slot.receive(lines);
        for (const std::string& line : lines) {
            out << formatReceivedLine(line, options.raw) << std::endl;
            if (options.count > 0 && ++printed == options.count)
                return 0;
        }
        if (stopRequested && stopRequested())
            return 0;
        if (options.seconds > 0.0 && std::chrono::steady_clock::now() - start >= timeLimit)
            return 0;
        sleepMilliseconds(kPollMilliseconds);
    }
}

std::string escapedText(const std::string& bytes, bool escapeBackslash) {
    std::string text;
    text.reserve(bytes.size());
    for (const char byte : bytes) {
        const auto code = static_cast<unsigned char>(byte);
        switch (byte) {
        case kFieldSeparator:
            text += "\\e";
            break;
        case '\t':
            text += "\\t";
            break;
        case '\n':
            text += "\\n";
            break;
        case '\r':
            text += "\\r";
            break;
        case '\\':
            text += escapeBackslash ? "\\\\" : "\\";
            break;
        default:
            if (code < 0x20 || code == 0x7f) {
                char escape[5];
                std::snprintf(escape, sizeof escape, "\\x%02X", code);
                text += escape;
            } else {
                text += byte;
            }
        }
    }
    return text;
}

} // namespace

std::string visibleText(const std::string& bytes) {
    return escapedText(bytes, true);
}

std::string readableText(const std::string& bytes) {
    return escapedText(bytes, false);
}

std::string formatReceivedLine(const std::string& line, bool raw) {
    IPCMessage message;
    if (raw)
        return visibleText(line);
    if (!parseMessageLine(line, message))
        return "#ignored\t" + visibleText(line);
    return visibleText(message.type) + "\t" + visibleText(message.id) + "\t" +
           visibleText(message.text) + "\t" + visibleText(message.sender);
}

int runIpcCommand(const std::vector<std::string>& givenArguments, std::ostream& out,
                  std::ostream& err, const std::function<bool()>& stopRequested) {
    try {
        std::vector<std::string> arguments = givenArguments;
        if (!arguments.empty() && arguments[0] == "--account") {
            if (arguments.size() < 2 || arguments[1].empty())
                throw UsageError{"--account needs an account name or number"};
            std::string why;
            if (!MailSlot::useAccount(arguments[1], why)) {
                err << "kalvor-ipc: " << why << "\n";
                return 1;
            }
            arguments.erase(arguments.begin(), arguments.begin() + 2);
        }
        // Only in front or among listen's options: the fields of a message may say anything.
        const auto isHelp = [](const std::string& word) {
            return word == "--help" || word == "-h";
        };
        if (!arguments.empty() &&
            (isHelp(arguments[0]) || (arguments[0] == "listen" &&
                                      std::any_of(arguments.begin(), arguments.end(), isHelp)))) {
            out << kUsage;
            return 0;
        }
        if (arguments.empty())
            throw UsageError{"no command given"};
        if (arguments[0] == "send")
            return runSend(arguments);
        if (arguments[0] == "listen")
            return runListen(parseListen(arguments), out, err, stopRequested);
        throw UsageError{"unknown command \"" + arguments[0] + "\""};
    } catch (const UsageError& error) {
        err << "kalvor-ipc: " << error.message << "\n" << kUsage;
        return 2;
    } catch (const Exception& error) {
        err << "kalvor-ipc: " << error.summary() << "\n";
        return 1;
    }
}

} // namespace Kalvor

#include "JobInstance/ContainerSignal.h"

#include <cctype>
#include <csignal>
#include <cstdlib>

namespace Kalvor {

int32_t containerSignalNamed(const std::string& text) {
    if (!text.empty() && text.find_first_not_of("0123456789") == std::string::npos) {
        const long number = std::strtol(text.c_str(), nullptr, 10);
        return number > 0 && number < NSIG ? static_cast<int32_t>(number) : 0;
    }
    std::string name;
    for (const char byte : text)
        name += static_cast<char>(std::toupper(static_cast<unsigned char>(byte)));
    if (name.compare(0, 3, "SIG") == 0)
        name.erase(0, 3);
    static const struct {
        const char* name;
        int number;
    } kSignals[] = {{"HUP", SIGHUP},   {"INT", SIGINT},   {"QUIT", SIGQUIT}, {"KILL", SIGKILL},
                    {"USR1", SIGUSR1}, {"USR2", SIGUSR2}, {"TERM", SIGTERM}, {"CONT", SIGCONT},
                    {"STOP", SIGSTOP}, {"TSTP", SIGTSTP}, {"ALRM", SIGALRM}, {"WINCH", SIGWINCH}};
    for (const auto& known : kSignals)
        if (name == known.name)
            return known.number;
    return 0;
}

} // namespace Kalvor

#include "DemoApplication.h"
#include "DemoOptions.h"

#include "Common/Exception.h"
#include "Common/UserName.h"

#include <iostream>

int main(int argc, char** argv) {
    using namespace Kalvor;
    DemoOptions options;
    try {
        options = parseDemoOptions(std::vector<std::string>(argv + 1, argv + argc),
                                   argc > 0 ? argv[0] : "", processEnvironment);
    } catch (const DemoUsageError& error) {
        std::cerr << "kalvor-demo: " << error.message << "\n" << kDemoUsage;
        return kDemoUsageExitCode;
    }
    if (options.help) {
        std::cout << kDemoUsage;
        return kDemoDoneExitCode;
    }
    const std::string userTag = currentUserTag();
    if (userTag.empty()) {
        std::cerr << "kalvor-demo: the account name is unknown, so the mailslot cannot be named\n";
        return kDemoFailedExitCode;
    }
    try {
        return DemoApplication(options, userTag, std::cout).run();
    } catch (const Exception& error) {
        std::cerr << "kalvor-demo: " << options.id << " cannot run\n" << error.summary() << "\n";
        return kDemoFailedExitCode;
    }
}

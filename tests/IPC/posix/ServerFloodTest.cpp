// A flood from another account, where it can reach a server at all (a folder opened up by
// hand): nothing of it is parsed or handled, and the log gets one line a second with the count.
#include "IPC/IPCServer.h"

#include "CapturedLog.h"
#include "ChildProcess.h"
#include "Sandbox.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace Kalvor {
namespace {

// The counts the log's drop lines tell, added up.
long droppedInLog(const Kalvor::Test::CapturedLog& log) {
    const std::string marker = "Dropped ";
    long total = 0;
    for (const std::string& line : log.lines())
        if (const std::size_t at = line.find(marker); at != std::string::npos &&
                                                      line.find("from other accounts") !=
                                                          std::string::npos)
            total += std::atol(line.c_str() + at + marker.size());
    return total;
}

TEST(IPCServerFlood, AnotherAccountsFloodIsDroppedUnreadAndToldOnceASecond) {
    if (!Kalvor::Test::canActAsOtherAccounts())
        GTEST_SKIP() << "needs root, setpriv and a build every account can reach";
    Kalvor::Test::Sandbox sandbox;
    ::chmod(sandbox.path().c_str(), 0755);
    Kalvor::Test::CapturedLog log;
    std::atomic<int> handled{0};
    IPCServer server("Flooded", log.dispatcher(),
                     [&](const std::string&, const std::string&, const std::string&,
                         const std::string&) { ++handled; });
    ASSERT_TRUE(log.waitFor("IPC: MailSlot created \"Flooded\"."));
    const std::string folder = sandbox.mailslotDirectory() + "/" + std::to_string(::geteuid());
    const std::string socket = folder + "/Flooded";
    ::chmod(folder.c_str(), 0711);
    ::chmod(socket.c_str(), 0777);

    constexpr long kDatagrams = 100000;
    const auto start = std::chrono::steady_clock::now();
    Kalvor::Test::ChildProcess flood = Kalvor::Test::startAsAccount(
        4712, Kalvor::Test::helperProgramPath("kalvor-job-helper"),
        {"send-raw", socket, "Kalvor\x1b" "COMMAND\x1b\x1bUNKNOWN\x1b", std::to_string(kDatagrams)},
        Kalvor::Test::ChildProcess::capturing(true));
    ASSERT_EQ(flood.waitForExit(std::chrono::seconds(120)), 0);
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
    EXPECT_TRUE(Kalvor::Test::waitFor([&] { return droppedInLog(log) == kDatagrams; },
                              std::chrono::seconds(5)))
        << droppedInLog(log);
    EXPECT_LE(log.count("from other accounts"), static_cast<std::size_t>(seconds.count()) + 3);
    EXPECT_EQ(handled, 0);
    EXPECT_EQ(log.count("Received message line"), 0u) << "nothing of it was read as a line";
    server.stop();
}

} // namespace
} // namespace Kalvor

// The posix session signals reach the real supervisor: each ends in the shutdown sequence.
#include "Installation.h"

#include <gtest/gtest.h>

#include <ostream>

#include <signal.h>

namespace Kalvor {
namespace {

struct SignalCase {
    int signal;
    const char* logLine;
};

void PrintTo(const SignalCase& test, std::ostream* out) {
    *out << "signal " << test.signal;
}

class SessionSignal : public ::testing::TestWithParam<SignalCase> {};

TEST_P(SessionSignal, EndsInTheShutdownSequence) {
    Kalvor::Test::Installation site;
    site.writeConfig({});
    Kalvor::Test::ChildProcess& wardex = site.startWardex();
    ASSERT_TRUE(site.waitForLog("Wardex started"));
    ASSERT_EQ(::kill(static_cast<pid_t>(wardex.processId()), GetParam().signal), 0);
    EXPECT_EQ(wardex.waitForExit(), 0);
    EXPECT_TRUE(site.waitForLog(GetParam().logLine)) << site.logText();
    EXPECT_TRUE(site.waitForLog("Shutting down the Wardex..."));
    EXPECT_EQ(site.marker(site.instanceMarker()), 3);
}

INSTANTIATE_TEST_SUITE_P(
    Signals, SessionSignal,
    ::testing::Values(SignalCase{SIGTERM, "Main loop: received shutdown signal from system."},
                      SignalCase{SIGHUP, "Main loop: received shutdown signal from system."},
                      SignalCase{SIGINT, "Main loop: Got Windows message to shut down."}));

} // namespace
} // namespace Kalvor

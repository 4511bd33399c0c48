// The real supervisor as a standard user, who may only read HKEY_LOCAL_MACHINE\SOFTWARE: it
// supervises with its instance marker among its own values, and still stops when the
// administrator sets the machine's global marker to 2.
#include "Common/SystemInfo.h"
#include "Installation.h"
#include "ReadOnlyKey.h"

#include <gtest/gtest.h>

#include <fstream>
#include <optional>

namespace Kalvor {
namespace {

using Kalvor::Test::ChildProcess;
using Kalvor::Test::Installation;
using Kalvor::Test::ReadOnlyKey;

// Product version 5.4 moves the markers to this key, which no other test makes read-only.
const std::string kMarkerKey = "SOFTWARE\\Kalvor\\Resources\\Recorder";

class StandardUserEndToEnd : public ::testing::Test {
protected:
    ~StandardUserEndToEnd() override {
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
            ::RegDeleteTreeA(root, kMarkerKey.c_str());
    }

    Installation site_;
};

TEST_F(StandardUserEndToEnd, SupervisesWithItsOwnMarkerAndStopsOnTheMachinesGlobalMarker) {
    std::ofstream(site_.path("conf/version")) << "5.4\n";
    ASSERT_EQ(SystemInfo::writeValue(kMarkerKey, "WardexMarker", 1), SI_OK);
    site_.installDemo("DemoOne");
    site_.writeConfig({{"DemoOne"}});
    std::optional<ReadOnlyKey> readOnly;
    readOnly.emplace(HKEY_LOCAL_MACHINE, kMarkerKey);
    ASSERT_TRUE(readOnly->applied());

    ChildProcess& wardex = site_.startWardex();
    EXPECT_TRUE(site_.waitForLog("is kept among this account's own values, in "
                                 "HKEY_CURRENT_USER\\" +
                                 kMarkerKey))
        << site_.logText();
    EXPECT_TRUE(site_.waitUntilAnswering("DemoOne")) << site_.logText();
    EXPECT_EQ(site_.logCount("Failed to"), 0u) << site_.logText();

    // The administrator stops every supervisor.
    readOnly.reset();
    ASSERT_EQ(SystemInfo::writeValue(kMarkerKey, "WardexMarker", 2), SI_OK);
    EXPECT_EQ(wardex.waitForExit(), 0) << site_.logText();
    EXPECT_TRUE(site_.waitForLog("Main loop: Registry marker has shutdown value. Shutting down."));
    EXPECT_TRUE(site_.waitUntilGone("DemoOne"));
}

} // namespace
} // namespace Kalvor

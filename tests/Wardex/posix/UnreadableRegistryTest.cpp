// The markers while the posix registry file cannot be parsed: the values last read stand, and
// the fault is logged once per change rather than on every pass.
#include "Common/SystemInfo.h"
#include "FakeServices.h"
#include "Sandbox.h"
#include "Win32_App/KalvorWardex/Markers.h"

#include <gtest/gtest.h>

#include <fstream>

namespace Kalvor {
namespace {

const std::string kKey = "SOFTWARE\\Kalvor\\Resources";

TEST(UnreadableRegistry, MarkersKeepTheirLastValuesAndTheFaultIsLoggedOncePerChange) {
    Kalvor::Test::Sandbox sandbox;
    Kalvor::Test::CapturedLog log;
    Markers markers(std::make_shared<LoggerUnit>(log.dispatcher(), 23), kKey, "tester");
    int32_t value = 0;
    EXPECT_EQ(markers.readInstance(value), SI_MISSING);
    ASSERT_EQ(SystemInfo::writeValue(kKey, "WardexMarker", 1), SI_OK);
    const std::string hive = sandbox.registryDirectory() + "/HKEY_LOCAL_MACHINE.reg";
    const auto garble = [&](const std::string& line) {
        std::ofstream(hive, std::ios::app) << line << "\r\n";
    };

    garble("garbage");
    // Nothing read before: nothing to keep.
    EXPECT_EQ(markers.readInstance(value), SI_UNREADABLE);
    EXPECT_EQ(log.count("The registry cannot be read"), 1u);
    EXPECT_TRUE(log.contains("HKEY_LOCAL_MACHINE.reg does not parse (line "));

    std::ofstream(hive, std::ios::trunc) << "REGEDIT4\r\n"; // readable again, and empty
    ASSERT_EQ(SystemInfo::writeValue(kKey, "WardexMarker", 1), SI_OK);
    ASSERT_EQ(SystemInfo::writeValue(kKey, "WardexMarker:tester", 1), SI_OK);
    EXPECT_EQ(markers.readGlobal(value), SI_OK);
    EXPECT_EQ(markers.readInstance(value), SI_OK);
    EXPECT_EQ(log.count("Main loop: The registry can be read again."), 1u);

    garble("garbage");
    for (int pass = 0; pass < 3; ++pass) {
        value = 0;
        EXPECT_EQ(markers.readGlobal(value), SI_OK);
        EXPECT_EQ(value, 1);
        EXPECT_EQ(markers.readInstance(value), SI_OK);
        EXPECT_EQ(value, 1);
    }
    EXPECT_EQ(log.count("The registry cannot be read"), 2u);
    garble("more garbage"); // the same first bad line: no new entry
    EXPECT_EQ(markers.readGlobal(value), SI_OK);
    EXPECT_EQ(log.count("The registry cannot be read"), 2u);
    // Writes still refuse and leave the file as it is.
    const std::string before = [&] {
        std::ifstream in(hive, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }();
    markers.changeMarker(1, 3);
    EXPECT_TRUE(log.contains("Failed to change WardexMarker:tester"));
    std::ifstream in(hive, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), before);
}

} // namespace
} // namespace Kalvor

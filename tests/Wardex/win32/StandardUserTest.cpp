// A standard user's supervisor on Windows, where HKEY_LOCAL_MACHINE\SOFTWARE is read-only to it:
// its instance marker is kept under the same path in HKEY_CURRENT_USER and read from there
// first, the global marker is still the machine's, and a marker that can be written nowhere is
// reported once. The key's access list stands in for the standard user (Wine enforces it).
#include "Common/SystemInfo.h"
#include "FakeServices.h"
#include "Sandbox.h"
#include "Win32_App/KalvorWardex/Markers.h"

#include "ReadOnlyKey.h"

#include <gtest/gtest.h>

namespace Kalvor {
namespace {

using Kalvor::Test::ReadOnlyKey;

void setUserValue(const std::string& subKey, const std::string& name, DWORD value) {
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, subKey.c_str(), 0, nullptr, 0, KEY_WRITE,
                                nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ::RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                     sizeof value);
    ::RegCloseKey(key);
}

TEST(StandardUser, KeepsItsMarkerInItsOwnValuesAndObeysTheMachinesGlobalMarker) {
    Kalvor::Test::Sandbox sandbox;
    Kalvor::Test::CapturedLog log;
    const std::string key = sandbox.registrySubKey();
    const std::string tag = sandbox.uniqueName("standard");
    ASSERT_EQ(SystemInfo::writeValue(key, "WardexMarker", 2), SI_OK);
    // The account's own global marker must not shadow the machine's.
    setUserValue(key, "WardexMarker", 1);
    ASSERT_FALSE(SystemInfo::writesAccountValues(key));
    {
        const ReadOnlyKey machine(HKEY_LOCAL_MACHINE, key);
        ASSERT_TRUE(machine.applied());
        EXPECT_TRUE(SystemInfo::writesAccountValues(key));
        Markers markers(std::make_shared<LoggerUnit>(log.dispatcher(), 23), key, tag);
        int32_t value = 0;
        EXPECT_EQ(markers.readInstance(value), SI_MISSING);
        EXPECT_TRUE(markers.setMissingInstance());
        EXPECT_EQ(markers.readInstance(value), SI_OK);
        EXPECT_EQ(value, Markers::kSupervising);
        markers.changeMarker(Markers::kSupervising, Markers::kStopped);
        EXPECT_EQ(markers.readInstance(value), SI_OK);
        EXPECT_EQ(value, Markers::kStopped);
        EXPECT_EQ(log.count("is kept among this account's own values, in HKEY_CURRENT_USER\\" +
                            key),
                  1u);
        EXPECT_EQ(log.count("Failed to"), 0u);
        EXPECT_EQ(markers.readGlobal(value), SI_OK);
        EXPECT_EQ(value, Markers::kShutdownValue);

        // A key below that is not made yet (the markers' key of a later product version) is
        // the account's too.
        Markers below(std::make_shared<LoggerUnit>(log.dispatcher(), 23), key + "\\Later", tag);
        EXPECT_TRUE(below.setMissingInstance());
        EXPECT_EQ(below.readInstance(value), SI_OK);
        EXPECT_EQ(value, Markers::kSupervising);
    }
    EXPECT_FALSE(SystemInfo::writesAccountValues(key));
}

TEST(StandardUser, AMarkerThatCanBeWrittenNowhereIsReportedOnce) {
    Kalvor::Test::Sandbox sandbox;
    Kalvor::Test::CapturedLog log;
    const std::string key = sandbox.registrySubKey();
    const std::string tag = sandbox.uniqueName("nowhere");
    ASSERT_EQ(SystemInfo::writeValue(key, "WardexMarker", 1), SI_OK);
    setUserValue(key, "Other", 1);
    const ReadOnlyKey machine(HKEY_LOCAL_MACHINE, key);
    const ReadOnlyKey account(HKEY_CURRENT_USER, key);
    ASSERT_TRUE(machine.applied() && account.applied());
    Markers markers(std::make_shared<LoggerUnit>(log.dispatcher(), 23), key, tag);
    for (int pass = 0; pass < 5; ++pass)
        EXPECT_FALSE(markers.setMissingInstance());
    EXPECT_EQ(log.count("Main loop: Failed to set missing Registry marker \"WardexMarker:" + tag),
              1u);
}

} // namespace
} // namespace Kalvor

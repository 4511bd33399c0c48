// The markers as operators write them: a REG_DWORD as it should be, or a text where `reg add`
// without /t was used, which is read as its number when it is one and named once either way.
#include "Common/SystemInfo.h"
#include "FakeServices.h"
#include "Sandbox.h"
#include "Win32_App/KalvorWardex/Markers.h"

#include <gtest/gtest.h>

namespace Kalvor {
namespace {

void writeText(const std::string& key, const std::string& name, const std::string& text) {
    ASSERT_EQ(SystemInfo::writeValue(key, name, RegistryType::String, text.data(),
                                     static_cast<uint32_t>(text.size())),
              SI_OK);
}

TEST(MarkersOfAnotherType, ATextIsReadAsItsNumberAndEachFindingIsNamedOnce) {
    Kalvor::Test::Sandbox sandbox;
    Kalvor::Test::CapturedLog log;
    const std::string key = sandbox.registrySubKey();
    const std::string tag = sandbox.uniqueName("typed");
    const std::string instance = "WardexMarker:" + tag;
    Markers markers(std::make_shared<LoggerUnit>(log.dispatcher(), 23), key, tag);
    int32_t value = 0;

    writeText(key, "WardexMarker", "2");
    for (int pass = 0; pass < 3; ++pass) {
        EXPECT_EQ(markers.readGlobal(value), SI_OK);
        EXPECT_EQ(value, 2);
    }
    EXPECT_EQ(log.count("Registry marker \"WardexMarker\" is a REG_SZ, not a REG_DWORD: its text "
                        "\"2\" is read as that number."),
              1u);

    // A text that is no number is ignored, as a value of another type always was; said once.
    writeText(key, instance, "on");
    EXPECT_EQ(markers.readInstance(value), SI_WRONG_TYPE);
    EXPECT_EQ(markers.readInstance(value), SI_WRONG_TYPE);
    EXPECT_EQ(log.count("is no number, so it is ignored."), 1u);

    const std::string binary = "\x01\x00";
    ASSERT_EQ(SystemInfo::writeValue(key, instance, RegistryType::Binary, binary.data(), 2),
              SI_OK);
    EXPECT_EQ(markers.readInstance(value), SI_WRONG_TYPE);
    EXPECT_EQ(log.count("is a REG_BINARY, not a REG_DWORD, so it is ignored."), 1u);

    // Mended, then broken the same way again: said again.
    ASSERT_EQ(SystemInfo::writeValue(key, "WardexMarker", 1), SI_OK);
    EXPECT_EQ(markers.readGlobal(value), SI_OK);
    EXPECT_EQ(value, 1);
    writeText(key, "WardexMarker", " 2 ");
    EXPECT_EQ(markers.readGlobal(value), SI_OK);
    EXPECT_EQ(value, 2);
    EXPECT_EQ(log.count("\"WardexMarker\" is a REG_SZ"), 2u);
}

} // namespace
} // namespace Kalvor

// The registry contract, the same on both builds: win32 against the real (Wine) registry, posix
// against the registry store in a directory of the test's own.
#include "Common/SystemInfo.h"
#include "Common/RegistryBackend.h"
#include "Common/StringUtils.h"
#include "Sandbox.h"

#include <gtest/gtest.h>

#include <climits>

namespace Kalvor {
namespace {

class SystemInfoTest : public ::testing::Test {
protected:
    // The bytes as stored, read past SystemInfo.
    std::string storedBytes(const std::string& name) {
        const std::optional<RegistryKey> key =
            RegistryKey::openForRead(RegistryRoot::LocalMachine, key_);
        RegistryType type = RegistryType::None;
        std::string bytes;
        EXPECT_TRUE(key && key->query(name, type, bytes)) << name;
        return bytes;
    }
    int32_t writeRaw(const std::string& name, RegistryType type, const std::string& bytes) {
        return SystemInfo::writeValue(key_, name, type, bytes.data(),
                                      static_cast<uint32_t>(bytes.size()));
    }

    Kalvor::Test::Sandbox sandbox_;
    const std::string key_ = sandbox_.registrySubKey();
};

TEST_F(SystemInfoTest, MissingKeyAndMissingValueBothReadAsMissing) {
    std::string text = "untouched";
    int32_t number = 99;
    EXPECT_EQ(SystemInfo::readString(key_, "Anything", text), SI_MISSING);
    EXPECT_EQ(SystemInfo::readInteger(key_, "Anything", number), SI_MISSING);

    ASSERT_EQ(SystemInfo::writeValue(key_, "Present", "x"), SI_OK);
    EXPECT_EQ(SystemInfo::readString(key_, "Absent", text), SI_MISSING);
    EXPECT_EQ(SystemInfo::readInteger(key_, "Absent", number), SI_MISSING);
    EXPECT_EQ(SystemInfo::readString(key_ + "\\Below", "Present", text), SI_MISSING);
    EXPECT_EQ(text, "untouched");
    EXPECT_EQ(number, 99);
}

TEST_F(SystemInfoTest, AValueOfAnotherTypeIsWrongTypeBothWays) {
    ASSERT_EQ(SystemInfo::writeValue(key_, "Number", 42), SI_OK);
    ASSERT_EQ(SystemInfo::writeValue(key_, "Text", "42"), SI_OK);
    ASSERT_EQ(SystemInfo::writeValue(key_, "LongText", std::string(300, 'x')), SI_OK);
    ASSERT_EQ(writeRaw("Binary", RegistryType::Binary, "\x01\x02"), SI_OK);
    std::string text;
    int32_t number = 0;
    EXPECT_EQ(SystemInfo::readString(key_, "Number", text), SI_WRONG_TYPE);
    EXPECT_EQ(SystemInfo::readString(key_, "Binary", text), SI_WRONG_TYPE);
    EXPECT_EQ(SystemInfo::readInteger(key_, "Text", number), SI_WRONG_TYPE);
    EXPECT_EQ(SystemInfo::readInteger(key_, "LongText", number), SI_WRONG_TYPE);
    EXPECT_EQ(SystemInfo::readInteger(key_, "Binary", number), SI_WRONG_TYPE);
}

TEST_F(SystemInfoTest, StringsOfAnyLengthAreReadWholeAndStoredWithoutZeroByte) {
    std::string patterned;
    for (int i = 0; i < 5000; ++i)
        patterned.push_back(static_cast<char>('!' + i % 90));
    for (const std::size_t length : {0, 1, 99, 100, 101, 5000}) {
        const std::string written = patterned.substr(0, length);
        const std::string name = "S" + std::to_string(length);
        ASSERT_EQ(SystemInfo::writeValue(key_, name, written), SI_OK);
        std::string read;
        EXPECT_EQ(SystemInfo::readString(key_, name, read), SI_OK);
        EXPECT_TRUE(read == written) << length << " bytes written, " << read.size() << " read";
        // We hand over no zero byte; Windows (and Wine) append one of their own when the byte
        // after the data is zero, as it is after a std::string's text.
        std::string stored = storedBytes(name);
        if (stored.size() == length + 1 && stored.back() == '\0')
            stored.pop_back();
        EXPECT_TRUE(stored == written)
            << length << " bytes written, " << stored.size() << " stored";
    }
}

TEST_F(SystemInfoTest, StringTypesDropTrailingZeroBytesOnly) {
    const struct {
        RegistryType type;
        std::string stored;
        std::string read;
    } cases[] = {
        {RegistryType::String, std::string("abc\0\0", 5), "abc"},
        {RegistryType::ExpandString, std::string("%TEMP%\\x\0", 9), "%TEMP%\\x"},
        {RegistryType::MultiString, std::string("one\0two\0\0", 9), std::string("one\0two", 7)},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(writeRaw("V", c.type, c.stored), SI_OK);
        std::string read;
        EXPECT_EQ(SystemInfo::readString(key_, "V", read), SI_OK);
        EXPECT_EQ(read, c.read);
    }
}

TEST_F(SystemInfoTest, IntegersRoundTripAsLittleEndianDwords) {
    for (const int32_t value : {0, 1, -1, 42, INT32_MIN, INT32_MAX}) {
        ASSERT_EQ(SystemInfo::writeValue(key_, "N", value), SI_OK);
        int32_t read = 7;
        EXPECT_EQ(SystemInfo::readInteger(key_, "N", read), SI_OK);
        EXPECT_EQ(read, value);
    }
    ASSERT_EQ(SystemInfo::writeValue(key_, "N", 0x12345678), SI_OK);
    EXPECT_EQ(storedBytes("N"), "\x78\x56\x34\x12");
}

// Where this process writes the machine values (win32; posix as root or the registry folder's
// owner), the machine-only read finds exactly what readInteger finds.
TEST_F(SystemInfoTest, TheMachineReadAgreesWithTheReadOfWhatThisProcessWrote) {
    ASSERT_EQ(SystemInfo::writeValue(key_, "Number", -42), SI_OK);
    ASSERT_EQ(SystemInfo::writeValue(key_, "Text", "42"), SI_OK);
    const struct {
        std::string subKey;
        std::string name;
        int32_t result;
    } cases[] = {{key_, "number", SI_OK},
                 {key_, "Text", SI_WRONG_TYPE},
                 {key_, "Absent", SI_MISSING},
                 {key_ + "\\Absent", "Number", SI_MISSING}};
    for (const auto& c : cases) {
        int32_t merged = 7;
        int32_t machine = 7;
        EXPECT_EQ(SystemInfo::readInteger(c.subKey, c.name, merged), c.result) << c.name;
        EXPECT_EQ(SystemInfo::readMachineInteger(c.subKey, c.name, machine), c.result) << c.name;
        EXPECT_EQ(machine, c.result == SI_OK ? -42 : 7) << c.name;
        EXPECT_EQ(merged, machine) << c.name;
    }
}

TEST_F(SystemInfoTest, WritesCreateNestedKeysAndNamesIgnoreCase) {
    const std::string nested = key_ + "\\Deeper\\Deepest";
    ASSERT_EQ(SystemInfo::writeValue(nested, "Name", "one"), SI_OK);
    ASSERT_EQ(SystemInfo::writeValue(key_ + "\\DEEPER\\deepest", "NAME", "two"), SI_OK);
    std::string read;
    EXPECT_EQ(SystemInfo::readString(nested, "name", read), SI_OK);
    EXPECT_EQ(read, "two");
}

TEST_F(SystemInfoTest, ResourceFormsWorkUnderTheResourceKey) {
    const std::string text = sandbox_.resourceName("Text");
    const std::string number = sandbox_.resourceName("Number");
    ASSERT_EQ(SystemInfo::writeResourceString(text, "value"), SI_OK);
    ASSERT_EQ(SystemInfo::writeValue(SystemInfo::kResourceKey, number, 17), SI_OK);
    std::string read;
    int32_t value = 0;
    EXPECT_EQ(SystemInfo::readResourceString(text, read), SI_OK);
    EXPECT_EQ(read, "value");
    EXPECT_EQ(SystemInfo::readResourceInteger(number, value), SI_OK);
    EXPECT_EQ(value, 17);
    EXPECT_EQ(SystemInfo::readResourceInteger(text, value), SI_WRONG_TYPE);
    EXPECT_EQ(SystemInfo::readResourceString(sandbox_.resourceName("Absent"), read), SI_MISSING);
}

TEST_F(SystemInfoTest, ReferencesAreReplacedByResourceStrings) {
    const std::string dir = sandbox_.resourceName("LogDir");
    const std::string shorty = sandbox_.resourceName("S");
    const std::string nested = sandbox_.resourceName("Nested");
    const std::string number = sandbox_.resourceName("Number");
    const std::string missing = sandbox_.resourceName("Missing");
    ASSERT_EQ(SystemInfo::writeResourceString(dir, "C:\\logs"), SI_OK);
    ASSERT_EQ(SystemInfo::writeResourceString(shorty, "s"), SI_OK);
    ASSERT_EQ(SystemInfo::writeResourceString(nested, "[${" + dir + "}]"), SI_OK);
    ASSERT_EQ(SystemInfo::writeValue(SystemInfo::kResourceKey, number, 5), SI_OK);
    const struct {
        std::string stored;
        std::string read;
    } cases[] = {
        {"${" + dir + "}\\Wardex", "C:\\logs\\Wardex"},
        {"${" + lowerCopy(dir) + "}", "C:\\logs"},
        {"${" + missing + "}\\Wardex", "${" + missing + "}\\Wardex"},
        {"${" + number + "}", "${" + number + "}"},
        // A value shorter than its reference must not hide the next one.
        {"${" + shorty + "}${" + dir + "}", "sC:\\logs"},
        {"a ${" + nested + "} b", "a [C:\\logs] b"},
        {"${" + missing + "}${" + dir + "}", "${" + missing + "}C:\\logs"},
        {"ends in ${", "ends in ${"},
        {"ab${}", "ab${}"},
        {"${" + dir, "${" + dir},
        {"${" + dir + " ${" + dir + "}", "${" + dir + " ${" + dir + "}"},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(SystemInfo::writeValue(key_, "Path", c.stored), SI_OK);
        std::string read;
        EXPECT_EQ(SystemInfo::readString(key_, "Path", read), SI_OK);
        EXPECT_EQ(read, c.read) << c.stored;
    }
}

TEST_F(SystemInfoTest, CyclicReferencesStayAsWrittenAndExpansionGoesOn) {
    const std::string self = sandbox_.resourceName("Self");
    const std::string a = sandbox_.resourceName("A");
    const std::string b = sandbox_.resourceName("B");
    const std::string tail = sandbox_.resourceName("Tail");
    ASSERT_EQ(SystemInfo::writeResourceString(self, "x${" + self + "}y${" + tail + "}"), SI_OK);
    ASSERT_EQ(SystemInfo::writeResourceString(a, "${" + b + "}"), SI_OK);
    ASSERT_EQ(SystemInfo::writeResourceString(b, "(${" + a + "})"), SI_OK);
    ASSERT_EQ(SystemInfo::writeResourceString(tail, "!"), SI_OK);
    std::string read;
    EXPECT_EQ(SystemInfo::readResourceString(self, read), SI_OK);
    EXPECT_EQ(read, "x${" + self + "}y!");
    EXPECT_EQ(SystemInfo::readResourceString(a, read), SI_OK);
    EXPECT_EQ(read, "(${" + a + "})");
    EXPECT_EQ(SystemInfo::readResourceString(b, read), SI_OK);
    EXPECT_EQ(read, "(${" + b + "})");

    // Same name under another key is no cycle.
    ASSERT_EQ(SystemInfo::writeValue(key_, tail, "${" + tail + "}"), SI_OK);
    EXPECT_EQ(SystemInfo::readString(key_, tail, read), SI_OK);
    EXPECT_EQ(read, "!");
}

TEST_F(SystemInfoTest, TheCurrentRootSelectsWhereValuesLive) {
    struct RestoreRoot {
        ~RestoreRoot() { SystemInfo::setCurrentRoot(RegistryRoot::LocalMachine); }
    } restore;
    EXPECT_EQ(SystemInfo::currentRoot(), RegistryRoot::LocalMachine);
    SystemInfo::setCurrentRoot(RegistryRoot::CurrentUser);
    ASSERT_EQ(SystemInfo::writeValue(key_, "Where", "user"), SI_OK);
    std::string read;
    EXPECT_EQ(SystemInfo::readString(key_, "Where", read), SI_OK);
    EXPECT_EQ(read, "user");
    SystemInfo::setCurrentRoot(RegistryRoot::LocalMachine);
    EXPECT_EQ(SystemInfo::readString(key_, "Where", read), SI_MISSING);
}

TEST(RegistryRootNames, FullNamesAreFoundInAnyCase) {
    for (RegistryRoot root : kRegistryRoots) {
        EXPECT_EQ(findRootKey(rootKeyName(root)), root);
    }
    EXPECT_EQ(findRootKey("hkey_local_machine"), RegistryRoot::LocalMachine);
    EXPECT_EQ(findRootKey("HKLM"), std::nullopt);
    EXPECT_EQ(findRootKey(""), std::nullopt);
}

} // namespace
} // namespace Kalvor

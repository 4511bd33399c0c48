// The file in which the supervisor keeps the applications it runs, for the one that starts after
// it: what goes in comes out, what is damaged is skipped, and a write replaces the file whole.
#include "Win32_App/KalvorWardex/AppRecords.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <limits>

namespace Kalvor {

// Failures show the fields, not the bytes of the object.
void PrintTo(const AppRecord& record, std::ostream* out) {
    *out << "{" << ::testing::PrintToString(record.name) << ", " << record.processId << ", "
         << record.threadId << ", " << record.startTime << ", "
         << ::testing::PrintToString(record.program) << "}";
}

namespace {

using Kalvor::Test::readFile;
using Kalvor::Test::ScopedEnv;
using Kalvor::Test::TempDir;
using Kalvor::Test::writeFile;
using Records = std::vector<AppRecord>;
using Names = std::vector<std::string>;
namespace fs = std::filesystem;
using namespace std::string_literals;

AppRecord record(const std::string& name, uint32_t processId, const std::string& program) {
    return {name, processId, processId + 1, 1000u * processId, program};
}

class AppRecordsTest : public ::testing::Test {
protected:
    Names namesInFolder() const {
        Names names;
        for (const fs::directory_entry& entry : fs::directory_iterator(folder_.path()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    void writeOk(const Records& records) {
        std::string why;
        ASSERT_TRUE(file_.write(records, why)) << why;
        EXPECT_EQ(why, "");
    }

    TempDir folder_;
    std::string path_ = folder_.file("Wardex_tester.apps");
    AppRecordFile file_{path_};
};

TEST_F(AppRecordsTest, RecordsComeBackAsTheyWereWrittenAndAWriteReplacesThemAll) {
    EXPECT_EQ(file_.read(), Records{}) << "a missing file";
    const uint32_t most = std::numeric_limits<uint32_t>::max();
    const Records records = {
        record("Name with  blanks ", 17, "C:\\Program Files\\Kalvor\\Demo App.exe"),
        record("Ünïcødé \xff\x80\x01", 99, "/srv/\xe2\x82\xac/prog ram"),
        {"", 0, 0, 0, ""},
        {"Largest", most, most, std::numeric_limits<uint64_t>::max(), "p"}};
    writeOk(records);
    EXPECT_EQ(file_.read(), records);
    writeOk({record("Demo", 12, "/bin/demo")});
    EXPECT_EQ(readFile(path_), "WardexApps 1\nDemo\t12\t13\t12000\t/bin/demo\n");
    writeOk({});
    EXPECT_EQ(file_.read(), Records{});
    EXPECT_EQ(namesInFolder(), Names{"Wardex_tester.apps"}) << "no copy or lock is left";
}

// Each damaged line stands between two good ones; only the good ones come back.
TEST_F(AppRecordsTest, ACutOrGarbledFileYieldsItsGoodLinesOnly) {
    const std::string one = "One\t1\t2\t3\t/bin/one\n";
    const std::string two = "Two\t4\t5\t6\t/bin/two\r\n"; // an editor's CR LF is taken
    const Records expected = {{"One", 1, 2, 3, "/bin/one"}, {"Two", 4, 5, 6, "/bin/two"}};
    for (const std::string& bad :
         {"Three\t7\t8\t9\n"s, "Three\t7\t8\t9\t/bin/three\textra\n"s, "T\t-7\t8\t9\t/t\n"s,
          "T\t0x7\t8\t9\t/t\n"s, "T\t\t8\t9\t/t\n"s, "T\t4294967296\t8\t9\t/t\n"s,
          "T\t7\t8\t18446744073709551616\t/t\n"s, "T\0\t7\t8\t9\t/t\n"s, "T\t7\t8\t9\t/\rt\n"s}) {
        ASSERT_TRUE(writeFile(path_, "WardexApps 1\n" + one + bad + two));
        EXPECT_EQ(file_.read(), expected) << bad;
    }
    // A last line without its end was cut short, maybe in the middle of its program.
    ASSERT_TRUE(writeFile(path_, "WardexApps 1\n" + one + two + "Three\t7\t8\t9\t/bin/thr"));
    EXPECT_EQ(file_.read(), expected);
    for (const char* first : {"", "WardexApps 2\n", "WardexApps"}) {
        ASSERT_TRUE(writeFile(path_, first + one + two));
        EXPECT_EQ(file_.read(), Records{}) << "another format: " << first;
    }
}

TEST_F(AppRecordsTest, ARecordThatTheFormatCannotHoldIsLeftOutAndNamed) {
    const AppRecord kept = record("Kept", 10, "/bin/kept");
    std::string why;
    ASSERT_TRUE(file_.write({record("Tab\t", 21, "/a"), record("Line", 22, "/\nb"),
                             record("Return\r", 23, "/c"), record("Zero\0"s, 24, "/d"), kept},
                            why));
    EXPECT_NE(why.find("21, 22, 23, 24"), std::string::npos) << why;
    EXPECT_EQ(file_.read(), Records{kept});
}

// A supervisor killed while writing leaves its copy and its lock (expired by the next start).
TEST_F(AppRecordsTest, AKilledWritersLeftoversDoNotStopTheNextWrite) {
    ASSERT_TRUE(writeFile(path_ + ".tmp", "WardexApps 1\nHalf\t1"));
    ASSERT_TRUE(writeFile(path_ + ".lock", "2001-01-01T00:00:00Z\r\n2001-01-01T00:00:10Z\r\n"
                                           "20010101T000000Zabcdefghij\r\noriginal\r\n"));
    writeOk({record("Demo", 14, "/bin/demo")});
    EXPECT_EQ(file_.read(), Records{record("Demo", 14, "/bin/demo")});
    EXPECT_EQ(namesInFolder(), Names{"Wardex_tester.apps"});
}

// Skipped where this account may not make links (win32 without the right).
TEST_F(AppRecordsTest, AWriteNeverFollowsALinkAtThePath) {
    const std::string victim = folder_.file("victim");
    ASSERT_TRUE(writeFile(victim, "precious"));
    std::error_code failed;
    fs::create_symlink(victim, path_, failed);
    if (failed)
        GTEST_SKIP() << "no link can be made here: " << failed.message();
    const std::string dangling = folder_.file("Wardex_other.apps");
    fs::create_symlink(folder_.file("absent"), dangling);
    for (const std::string& link : {path_, dangling}) {
        std::string why;
        EXPECT_FALSE(AppRecordFile(link).write({record("Demo", 12, "/bin/demo")}, why)) << link;
        EXPECT_NE(why, "");
    }
    EXPECT_EQ(readFile(victim), "precious");
    EXPECT_EQ(namesInFolder(), (Names{"Wardex_other.apps", "Wardex_tester.apps", "victim"}));
}

// posix takes the lock folder, win32 LOCALAPPDATA, else the temporary folder.
TEST(AppRecordPath, IsInTheAccountsOwnFolderUnderOneName) {
    EXPECT_EQ(appRecordFileName("a/b\\c"), "Wardex_a_b_c.apps");
    TempDir base;
    ScopedEnv locks("KALVOR_LOCK_DIR", base.file("locks"));
    for (const bool localAppData : {true, false}) {
        ScopedEnv local("LOCALAPPDATA",
                        localAppData ? std::optional<std::string>(base.path()) : std::nullopt);
        std::string why;
        const std::string path = appRecordPath("tester-path", why);
        ASSERT_NE(path, "") << why;
        EXPECT_EQ(fs::path(path).filename().string(), "Wardex_tester-path.apps");
        if (localAppData) {
            EXPECT_EQ(path.compare(0, base.path().size(), base.path()), 0) << path;
        }
        ASSERT_TRUE(AppRecordFile(path).write({record("Demo", 12, "/d")}, why)) << why;
        EXPECT_EQ(AppRecordFile(path).read(), Records{record("Demo", 12, "/d")});
        fs::remove(path);
    }
}

} // namespace
} // namespace Kalvor

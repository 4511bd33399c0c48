// The posix registry store: its REGEDIT4 files, their safety rules and writers in parallel.
#include "Common/posix/RegistryStore.h"
#include "Common/RegistryBackend.h"
#include "Common/SystemInfo.h"
#include "Common/posix/UniqueFd.h"
#include "posix/OtherAccounts.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

namespace Kalvor {
namespace {

using Test::readFile;

const std::string kKey = "SOFTWARE\\Kalvor\\Resources";

class RegistryStoreTest : public ::testing::Test {
protected:
    std::string hivePath() const { return RegistryStore::hivePath(RegistryRoot::LocalMachine); }
    void writeHive(const std::string& text) { std::ofstream(hivePath(), std::ios::binary) << text; }
    std::string readHive() const { return readFile(hivePath()); }
    RegistryHive loadHive() {
        RegistryHive hive(RegistryRoot::LocalMachine);
        const StoreResult result = RegistryStore::load(RegistryRoot::LocalMachine, hive);
        EXPECT_TRUE(result.ok()) << result.message;
        return hive;
    }

    Kalvor::Test::Sandbox sandbox_;
};

TEST_F(RegistryStoreTest, WritesRegedit4WithCrLfLineEnds) {
    ASSERT_EQ(SystemInfo::writeValue(kKey, "ConfigurationDir", "C:\\Kalvor \"conf\""), SI_OK);
    ASSERT_EQ(SystemInfo::writeValue(kKey, "WardexMarker", 42), SI_OK);
    EXPECT_EQ(readHive(), "REGEDIT4\r\n"
                          "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n"
                          "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kalvor]\r\n"
                          "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kalvor\\Resources]\r\n"
                          "\"ConfigurationDir\"=\"C:\\\\Kalvor \\\"conf\\\"\"\r\n"
                          "\"WardexMarker\"=dword:0000002a\r\n"
                          "\r\n");
    const RegistryHive hive = loadHive();
    const RegistryValue* stored = hive.findValue(kKey, "ConfigurationDir");
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(stored->data, "C:\\Kalvor \"conf\""); // no terminating zero byte
}

TEST_F(RegistryStoreTest, EveryTypeRoundTripsThroughTheFile) {
    const std::vector<RegistryValue> values = {
        {"Plain", RegistryType::String, "C:\\dir\\\"q\" \xe9\xff"},
        {"Empty", RegistryType::String, ""},
        {"Lines", RegistryType::String, "one\r\ntwo"},
        {"Zeroed", RegistryType::String, std::string("a\0", 2)},
        {"Expand", RegistryType::ExpandString, std::string("%TEMP%\0", 7)},
        {"Multi", RegistryType::MultiString, std::string("a\0bc\0\0", 6)},
        {"Binary", RegistryType::Binary, std::string("\x00\xff\x10", 3)},
        {"NoBytes", RegistryType::Binary, ""},
        {"Dword", RegistryType::Dword, std::string("\x2a\x00\x00\x80", 4)},
        {"ShortDword", RegistryType::Dword, "\x01"},
        {"Qword", RegistryType::Qword, std::string("\x01\x02\x03\x04\x05\x06\x07\x08")},
        {"Odd", static_cast<RegistryType>(0x12345), "z"},
        {"", RegistryType::String, "default"},
        {"Quote\"And\\Slash", RegistryType::Dword, std::string("\0\0\0\0", 4)},
    };
    const StoreResult written =
        RegistryStore::update(RegistryRoot::LocalMachine, [&](RegistryHive& hive) {
            for (const RegistryValue& value : values)
                hive.setValue("A\\B", value);
            return true;
        });
    ASSERT_TRUE(written.ok()) << written.message;
    EXPECT_EQ(loadHive().values("a\\b"), values);
    const std::string text = readHive();
    EXPECT_NE(text.find("\"Expand\"=hex(2):25,54,45,4d,50,25,00\r\n"), std::string::npos);
    EXPECT_NE(text.find("\"Multi\"=hex(7):61,00,62,63,00,00\r\n"), std::string::npos);
    EXPECT_NE(text.find("\"Binary\"=hex:00,ff,10\r\n"), std::string::npos);
    EXPECT_NE(text.find("@=\"default\"\r\n"), std::string::npos);
    for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1))
        ASSERT_EQ(text[at - 1], '\r') << "bare LF at " << at;
}

TEST_F(RegistryStoreTest, ReadsLfLineEndsContinuationsAndHandWrittenSpelling) {
    writeHive("REGEDIT4\n\n"
              "[hkey_local_machine\\Software\\Kalvor\\Resources]\n"
              "\"Dir\"=\"/srv/kalvor\"\n"
              "\"Level\"=dword:2A\n"
              "\"Multi\"=hex(7):61,00,\\\n"
              "  62,00,00\n"
              "\n");
    std::string text;
    int32_t number = 0;
    EXPECT_EQ(SystemInfo::readString(kKey, "dir", text), SI_OK);
    EXPECT_EQ(text, "/srv/kalvor");
    EXPECT_EQ(SystemInfo::readInteger(kKey, "LEVEL", number), SI_OK);
    EXPECT_EQ(number, 42);
    EXPECT_EQ(SystemInfo::readString(kKey, "Multi", text), SI_OK);
    EXPECT_EQ(text, std::string("a\0b", 3));
}

TEST_F(RegistryStoreTest, AnotherCaseReplacesTheValueAndKeepsTheFirstSpelling) {
    ASSERT_EQ(SystemInfo::writeValue(kKey + "\\Recorder", "WardexMarker", 1), SI_OK);
    ASSERT_EQ(SystemInfo::writeValue("software\\KALVOR\\resources\\recorder", "WARDEXMARKER", 3),
              SI_OK);
    const std::vector<RegistryValue> values = loadHive().values(kKey + "\\Recorder");
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].name, "WardexMarker");
    EXPECT_EQ(values[0].data, std::string("\x03\0\0\0", 4));
    const std::string text = readHive();
    EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kalvor\\Resources\\Recorder]"),
              std::string::npos);
    EXPECT_EQ(text.find("KALVOR"), std::string::npos);
}

TEST_F(RegistryStoreTest, AFileThatDoesNotParseIsNeitherReadNorOverwritten) {
    const std::string section = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kalvor\\Resources]\r\n";
    const std::string value = "\"Dir\"=\"x\"\r\n";
    const std::string corrupt[] = {
        "",
        section + value,
        "REGEDIT5\r\n" + section + value,
        "REGEDIT4\r\n" + value + section,
        "REGEDIT4\r\n[HKEY_CURRENT_USER\\SOFTWARE]\r\n" + section + value,
        "REGEDIT4\r\n" + section + value + "garbage\r\n",
        "REGEDIT4\r\n" + section + value + "\"Open=\"x\"\r\n",
        "REGEDIT4\r\n" + section + value + "\"Bad\"=\"a\\q\"\r\n",
        "REGEDIT4\r\n" + section + value + "\"Hex\"=hex:0g\r\n",
        "REGEDIT4\r\n" + section + value + "\"Hex\"=hex:01,,02\r\n",
        "REGEDIT4\r\n" + section + value + "\"Word\"=dword:123456789\r\n",
        "REGEDIT4\r\n" + section + value + "\"Gone\"=-\r\n",
        "REGEDIT4\r\n" + section + value + "\"Cut\"=hex:01,\\\r\n",
        "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\r\n" + value,
    };
    for (const std::string& text : corrupt) {
        writeHive(text);
        std::string read;
        std::string fault;
        EXPECT_EQ(SystemInfo::readString(kKey, "Dir", read, &fault), SI_UNREADABLE) << text;
        EXPECT_NE(fault.find("HKEY_LOCAL_MACHINE.reg does not parse (line "), std::string::npos)
            << fault;
        int32_t number = 0;
        EXPECT_EQ(SystemInfo::readInteger(kKey, "Dir", number), SI_UNREADABLE) << text;
        EXPECT_EQ(SystemInfo::writeValue(kKey, "Dir", "y"), SI_FAILED) << text;
        EXPECT_EQ(SystemInfo::writeValue(kKey + "\\New", "Dir", "y"), SI_FAILED) << text;
        EXPECT_EQ(readHive(), text);
        RegistryHive hive(RegistryRoot::LocalMachine);
        EXPECT_EQ(RegistryStore::load(RegistryRoot::LocalMachine, hive).status,
                  StoreStatus::Corrupt);
    }
}

// Comment lines are valid in .reg files: they are read past and stay where they stood, with the
// line that follows them, when the file is rewritten.
TEST_F(RegistryStoreTest, CommentLinesAreKeptWhereTheyStandOnARewrite) {
    writeHive("REGEDIT4\r\n\r\n; about the resources\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kalvor\\Resources]\r\n"
              "  ; the folder\r\n\"Dir\"=\"x\"\r\n;\"Old\"=\"y\"\r\n\"Gone\"=dword:1\r\n"
              "; at the end\r\n");
    std::string text;
    ASSERT_EQ(SystemInfo::readString(kKey, "Dir", text), SI_OK);
    ASSERT_EQ(SystemInfo::writeValue(kKey, "Dir", "z"), SI_OK);
    ASSERT_EQ(SystemInfo::writeValue(kKey, "Added", 1), SI_OK);
    EXPECT_EQ(readHive(), "REGEDIT4\r\n\r\n; about the resources\r\n"
                          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kalvor\\Resources]\r\n"
                          "; the folder\r\n\"Dir\"=\"z\"\r\n;\"Old\"=\"y\"\r\n"
                          "\"Gone\"=dword:00000001\r\n\"Added\"=dword:00000001\r\n"
                          "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n"
                          "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kalvor]\r\n"
                          "\r\n; at the end\r\n\r\n");
    RegistryHive hive = loadHive();
    EXPECT_TRUE(hive.deleteValue(kKey, "gone"));
    EXPECT_EQ(hive.text().find(";\"Old\""), std::string::npos);
}

TEST_F(RegistryStoreTest, DefaultAndBinaryValuesSurviveARewrite) {
    writeHive("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kalvor\\Resources]\r\n"
              "@=\"default\"\r\n\"Blob\"=hex:de,ad,be,ef\r\n\"Nothing\"=hex(0):\r\n");
    const std::vector<RegistryValue> before = loadHive().values(kKey);
    ASSERT_EQ(before.size(), 3u);
    ASSERT_EQ(SystemInfo::writeValue(kKey, "Added", 1), SI_OK);
    std::vector<RegistryValue> after = loadHive().values(kKey);
    ASSERT_EQ(after.size(), 4u);
    after.pop_back();
    EXPECT_EQ(after, before);
    std::string text;
    EXPECT_EQ(SystemInfo::readString(kKey, "", text), SI_OK);
    EXPECT_EQ(text, "default");
}

TEST_F(RegistryStoreTest, TheDirectoryComesFromTheEnvironmentAndIsMadeOnlyToWrite) {
    const std::string nested = sandbox_.file("a/b/registry");
    Kalvor::Test::ScopedEnv moved("KALVOR_REGISTRY_DIR", nested);
    std::string text;
    struct stat info = {};
    EXPECT_EQ(SystemInfo::readString(kKey, "Dir", text), SI_MISSING);
    EXPECT_NE(::stat(nested.c_str(), &info), 0);
    ASSERT_EQ(SystemInfo::writeValue(kKey, "Dir", "x"), SI_OK);
    EXPECT_EQ(::stat((nested + "/HKEY_LOCAL_MACHINE.reg").c_str(), &info), 0);
    {
        Kalvor::Test::ScopedEnv elsewhere("KALVOR_REGISTRY_DIR", sandbox_.file("other"));
        EXPECT_EQ(SystemInfo::readString(kKey, "Dir", text), SI_MISSING);
    }
    EXPECT_EQ(SystemInfo::readString(kKey, "Dir", text), SI_OK);
}

TEST_F(RegistryStoreTest, KeysExistThroughTheirSubKeysAndDeleteWithThem) {
    writeHive("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A\\B\\C]\r\n\"V\"=\"v\"\r\n"
              "\r\n[HKEY_LOCAL_MACHINE\\AB]\r\n");
    EXPECT_TRUE(RegistryKey::openForRead(RegistryRoot::LocalMachine, "A"));
    EXPECT_TRUE(RegistryKey::openForRead(RegistryRoot::LocalMachine, "a\\b"));
    EXPECT_FALSE(RegistryKey::openForRead(RegistryRoot::LocalMachine, "A\\C"));
    RegistryHive hive = loadHive();
    EXPECT_EQ(hive.subKeys(""), (std::vector<std::string>{"A", "AB"}));
    EXPECT_TRUE(hive.deleteKey("a"));
    EXPECT_FALSE(hive.keyExists("A\\B\\C"));
    EXPECT_TRUE(hive.keyExists("AB"));
}

// A FIFO must not block the load and /dev/zero must not fill the memory; a file one byte beyond
// the limit is refused unread, while one at the limit is read (and, all zeros, does not parse).
TEST_F(RegistryStoreTest, OnlyARegularFileWithinTheSizeLimitIsRead) {
    const std::string path = hivePath();
    constexpr std::uintmax_t kLimit = std::uintmax_t{64} << 20;
    const auto sparse = [&](std::uintmax_t size) {
        std::ofstream(path, std::ios::binary).close();
        std::filesystem::resize_file(path, size);
        return 0;
    };
    const std::string notRegular = " is not a regular file";
    const struct {
        std::function<int()> make;
        StoreStatus status;
        std::string message; // after the path
    } cases[] = {
        {[&] { return ::mkfifo(path.c_str(), 0600); }, StoreStatus::Failed, notRegular},
        {[&] { return ::symlink("/dev/zero", path.c_str()); }, StoreStatus::Failed, notRegular},
        {[&] { return ::mkdir(path.c_str(), 0700); }, StoreStatus::Failed, notRegular},
        {[&] { return sparse(kLimit + 1); }, StoreStatus::Failed,
         " exceeds the 64 MiB limit of a registry file"},
        {[&] { return sparse(kLimit); }, StoreStatus::Corrupt, " does not parse"},
    };
    for (const auto& kind : cases) {
        std::filesystem::remove(path);
        ASSERT_EQ(kind.make(), 0) << kind.message;
        RegistryHive hive(RegistryRoot::LocalMachine);
        std::future<StoreResult> loading = std::async(std::launch::async, [&] {
            return RegistryStore::load(RegistryRoot::LocalMachine, hive);
        });
        // Opening and closing the other end releases a blocked open: a failure, not a hang.
        if (loading.wait_for(std::chrono::seconds(5)) == std::future_status::timeout) {
            ADD_FAILURE() << "the load blocked";
            UniqueFd partner(::open(path.c_str(), O_RDWR | O_NONBLOCK));
        }
        const StoreResult result = loading.get();
        EXPECT_EQ(result.status, kind.status) << result.message;
        EXPECT_EQ(result.message.rfind(path + kind.message, 0), 0u) << result.message;
    }
}

// The files beside the hive may have been put there by someone else: a link in the place of the
// hive or its lock stops the write, one in the place of the temporary file is replaced; none is
// written through.
TEST_F(RegistryStoreTest, LinksBesideTheHiveAreNeitherFollowedNorWrittenThrough) {
    const std::string victim = sandbox_.file("victim");
    const std::string original = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Victim]\r\n";
    const struct {
        std::string suffix;
        std::string message;
    } cases[] = {
        {"", hivePath() + " is not a regular file (a link is not followed)"},
        {".lock", "cannot open " + hivePath() + ".lock: a link, which is not followed"},
        {".tmp", ""},
    };
    for (const auto& c : cases) {
        for (const auto& other : cases)
            std::filesystem::remove(hivePath() + other.suffix);
        std::ofstream(victim, std::ios::binary) << original;
        ASSERT_EQ(::symlink(victim.c_str(), (hivePath() + c.suffix).c_str()), 0) << c.suffix;
        const StoreResult written =
            RegistryStore::update(RegistryRoot::LocalMachine, [](RegistryHive& hive) {
                return hive.setValue(kKey, {"Dir", RegistryType::String, "x"});
            });
        EXPECT_EQ(written.message, c.message) << c.suffix;
        if (c.message.empty()) {
            EXPECT_NE(loadHive().findValue(kKey, "Dir"), nullptr);
        }
        EXPECT_EQ(readFile(victim), original) << c.suffix;
    }
}

// ThreadSanitizer slows each rewrite of a 4,000-value file some 25 times and has nothing to
// find in these single-threaded processes; the other builds run the test.
#if defined(__SANITIZE_THREAD__)
constexpr bool kUnderThreadSanitizer = true;
#else
constexpr bool kUnderThreadSanitizer = false;
#endif

// Eight processes write 500 values each into one key while this one keeps reading it.
TEST_F(RegistryStoreTest, ParallelWritersLoseNoUpdateAndReadersNeverFail) {
    if (kUnderThreadSanitizer)
        GTEST_SKIP() << "too slow under ThreadSanitizer, which has no threads to check here";
    const std::string key = kKey + "\\Load";
    constexpr int kWriters = 8;
    constexpr int kValues = 500;
    ASSERT_EQ(SystemInfo::writeValue(key, "Sentinel", 7), SI_OK);
    std::vector<Kalvor::Test::ChildProcess> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back(
            Kalvor::Test::helperProgramPath("RegistryWriter"),
            std::vector<std::string>{key, "W" + std::to_string(w) + "-", std::to_string(kValues)});
        ASSERT_TRUE(writers.back().started());
    }
    int failedReads = 0;
    int reads = 0;
    const bool allEnded = Kalvor::Test::waitFor(
        [&] {
            int32_t sentinel = 0;
            ++reads;
            if (SystemInfo::readInteger(key, "Sentinel", sentinel) != SI_OK || sentinel != 7)
                ++failedReads;
            for (Kalvor::Test::ChildProcess& writer : writers) {
                if (!writer.exitCode())
                    return false;
            }
            return true;
        },
        std::chrono::seconds(100));
    ASSERT_TRUE(allEnded);
    EXPECT_EQ(failedReads, 0) << "of " << reads << " reads";
    for (Kalvor::Test::ChildProcess& writer : writers)
        EXPECT_EQ(writer.exitCode(), 0);
    // One load for the check: 4,000 reads of a 4,000-value file would outlast the writers.
    const RegistryHive hive = loadHive();
    EXPECT_EQ(hive.values(key).size(), 1u + kWriters * kValues);
    for (int w = 0; w < kWriters; ++w) {
        for (int i = 0; i < kValues; ++i) {
            const std::string name = "W" + std::to_string(w) + "-" + std::to_string(i);
            const RegistryValue* value = hive.findValue(key, name);
            ASSERT_NE(value, nullptr) << name;
            ASSERT_EQ(value->data, dwordBytes(static_cast<uint32_t>(i))) << name;
        }
    }
}

// Across accounts: root runs the helper programs as other accounts (posix/OtherAccounts.h).
using Test::kAccount;
using Test::kOtherAccount;
using Test::makeFolder;

// The machine folder is the test's own, root's (0755), with root's file in it (0644).
class RegistryAccountsTest : public RegistryStoreTest {
protected:
    void SetUp() override {
        if (!Kalvor::Test::canActAsOtherAccounts())
            GTEST_SKIP() << Kalvor::Test::kNoOtherAccounts;
        ASSERT_NO_FATAL_FAILURE(Kalvor::Test::letOtherAccountsRead(sandbox_));
    }
    // An XDG_STATE_HOME of `account`, with a store file of `text` unless that is empty.
    std::string stateHome(const std::string& name, uid_t account, const std::string& text = "") {
        const std::string home = makeFolder(sandbox_.file(name), account, 0755);
        if (!text.empty()) {
            const std::string store =
                makeFolder(makeFolder(home + "/kalvor", account, 0700) + "/registry", account,
                           0700) +
                "/HKEY_LOCAL_MACHINE.reg";
            std::ofstream(store, std::ios::binary) << text;
            EXPECT_EQ(::chown(store.c_str(), account, account), 0);
        }
        return home;
    }
    // Runs a helper program as `account` with its XDG_STATE_HOME; out_ and err_ get its output.
    int runAs(uid_t account, const std::string& state, const std::string& program,
              const std::vector<std::string>& arguments) {
        const Kalvor::Test::AccountRun run =
            Kalvor::Test::runAsAccount(sandbox_, account, state, program, arguments);
        out_ = run.output;
        err_ = run.errors;
        return run.exit;
    }

    std::string out_;
    std::string err_;
};

// An account's value of a name that root sets too is what that account reads, but never what
// the machine-only read returns: that one is root's for every account.
TEST_F(RegistryAccountsTest, AnAccountWritesItsOwnStoreAndReadsItOverTheMachineValues) {
    writeHive("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kalvor\\Resources]\r\n"
              "\"Shared0\"=dword:00000064\r\n\"RootOnly\"=dword:00000007\r\n");
    ASSERT_EQ(::chmod(hivePath().c_str(), 0644), 0);
    const std::string machine = readHive();
    const std::string section = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kalvor\\Resources]\r\n";
    const std::string own = stateHome("own", kAccount, "REGEDIT4\r\n\r\n; mine\r\n" + section);
    // Shared0 = 0 over root's 100, and Shared1 = 1.
    ASSERT_EQ(runAs(kAccount, own, "RegistryWriter", {kKey, "Shared", "2"}), 0) << err_;
    EXPECT_EQ(readHive(), machine);
    const std::string store = own + "/kalvor/registry/HKEY_LOCAL_MACHINE.reg";
    EXPECT_NE(readFile(store).find("; mine\r\n" + section +
                                   "\"Shared0\"=dword:00000000\r\n\"Shared1\"=dword:00000001\r\n"),
              std::string::npos)
        << readFile(store);
    struct stat info = {};
    ASSERT_EQ(::lstat(store.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, kAccount);

    const std::string corrupt = stateHome("corrupt", kAccount, "REGEDIT4\r\nnot a line\r\n");
    const std::string rootsView = "Shared0 merged=0:100 machine=0:100\n"
                                  "Shared1 merged=2:- machine=2:-\n"
                                  "RootOnly merged=0:7 machine=0:7\n";
    const std::string unreadable = "Shared0 merged=4:- machine=0:100\n"
                                   "Shared1 merged=4:- machine=2:-\n"
                                   "RootOnly merged=4:- machine=0:7\n";
    const struct {
        uid_t account;
        std::string state;
        std::string output;
        std::string fault;
    } readers[] = {
        {kAccount, own,
         "Shared0 merged=0:0 machine=0:100\nShared1 merged=0:1 machine=2:-\n"
         "RootOnly merged=0:7 machine=0:7\n",
         ""},
        {kOtherAccount, stateHome("other", kOtherAccount), rootsView, ""},
        // Root writes the machine file and reads no store.
        {0, own, rootsView, ""},
        {kOtherAccount, own, unreadable, "is refused: " + own + "/kalvor/registry: "},
        {kAccount, corrupt, unreadable,
         corrupt + "/kalvor/registry/HKEY_LOCAL_MACHINE.reg does not parse"},
    };
    for (const auto& reader : readers) {
        EXPECT_EQ(runAs(reader.account, reader.state, "RegistryReader",
                        {kKey, "Shared0", "Shared1", "RootOnly"}),
                  0);
        EXPECT_EQ(out_, reader.output) << reader.account << " in " << reader.state;
        if (reader.fault.empty())
            EXPECT_EQ(err_, "") << reader.account << " in " << reader.state;
        else
            EXPECT_NE(err_.find(reader.fault), std::string::npos) << err_;
    }
}

// Ownership of the machine folder decides, not the right to write to it.
TEST_F(RegistryAccountsTest, TheOwnerOfTheMachineFolderWritesItDirectly) {
    const std::string state = stateHome("state", kAccount);
    const std::string store = state + "/kalvor/registry/HKEY_LOCAL_MACHINE.reg";
    const struct {
        std::string name;
        std::function<std::string()> machineFolder;
        bool direct;
    } cases[] = {
        {"its own", [&] { return makeFolder(sandbox_.file("own"), kAccount, 0755); }, true},
        {"one it makes",
         [&] { return makeFolder(sandbox_.file("parent"), kAccount, 0755) + "/registry"; }, true},
        {"root's", [&] { return makeFolder(sandbox_.file("root"), 0, 0755); }, false},
        {"root's, open to all", [&] { return makeFolder(sandbox_.file("open"), 0, 0777); }, false},
        {"one it cannot make", [&] { return sandbox_.file("missing/registry"); }, false},
    };
    int round = 0;
    for (const auto& c : cases) {
        const std::string machineFolder = c.machineFolder();
        Kalvor::Test::ScopedEnv registry("KALVOR_REGISTRY_DIR", machineFolder);
        const std::string prefix = "V" + std::to_string(round++) + "-";
        ASSERT_EQ(runAs(kAccount, state, "RegistryWriter", {kKey, prefix, "1"}), 0)
            << c.name << ": " << err_;
        const std::string written = "\"" + prefix + "0\"=dword:00000000";
        const bool inMachine =
            readFile(machineFolder + "/HKEY_LOCAL_MACHINE.reg").find(written) != std::string::npos;
        const bool inStore = readFile(store).find(written) != std::string::npos;
        EXPECT_EQ(inMachine, c.direct) << c.name;
        EXPECT_EQ(inStore, !c.direct) << c.name;
    }
}

} // namespace
} // namespace Kalvor

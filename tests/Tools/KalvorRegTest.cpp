// kalvor-reg: its verbs in-process through runRegCommand, and the built program itself.
#include "Common/SystemInfo.h"
#include "Common/posix/RegistryStore.h"
#include "RegCommand.h"
#include "TestSupport.h"
#include "posix/ChildProcess.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace Kalvor {
namespace {

using Arguments = std::vector<std::string>;

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

bool exists(const std::string& path) {
    struct stat info = {};
    return ::stat(path.c_str(), &info) == 0;
}

class KalvorRegTest : public ::testing::Test {
protected:
    int run(const Arguments& arguments) {
        out_.str("");
        err_.str("");
        return runRegCommand(arguments, out_, err_);
    }
    void runOk(const Arguments& arguments) {
        ASSERT_EQ(run(arguments), 0) << err_.str();
        EXPECT_EQ(err_.str(), "");
    }

    Kalvor::Test::TempDir dir_;
    // Not created until something is written.
    const std::string registry_ = dir_.file("registry");
    Kalvor::Test::ScopedEnv env_{"KALVOR_REGISTRY_DIR", registry_};
    std::ostringstream out_;
    std::ostringstream err_;
};

TEST_F(KalvorRegTest, AddedValuesQueryInRegExeLayout) {
    const std::string key = "HKLM\\SOFTWARE\\Kalvor\\Resources";
    runOk({"add", key, "/v", "ConfigurationDir", "/d", "C:\\Kalvor\\conf"});
    EXPECT_EQ(out_.str(), "The operation completed successfully.\n");
    runOk({"add", key, "/v", "WardexMarker", "/t", "REG_DWORD", "/d", "42"});
    runOk({"add", key, "/v", "Hex", "/t", "reg_dword", "/d", "0xFFFFFFFF"});
    runOk({"add", key, "/v", "List", "/t", "REG_MULTI_SZ", "/d", "a\\0b c\\0"});
    runOk({"add", key, "/v", "Home", "/t", "REG_EXPAND_SZ", "/d", "%HOME%"});
    runOk({"add", key, "/ve", "/d", "default"});
    runOk({"add", key + "\\Recorder"});
    runOk({"query", key});
    EXPECT_EQ(out_.str(), "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Kalvor\\Resources\n"
                          "    ConfigurationDir    REG_SZ    C:\\Kalvor\\conf\n"
                          "    WardexMarker    REG_DWORD    0x2a\n"
                          "    Hex    REG_DWORD    0xffffffff\n"
                          "    List    REG_MULTI_SZ    a\\0b c\n"
                          "    Home    REG_EXPAND_SZ    %HOME%\n"
                          "    (Default)    REG_SZ    default\n"
                          "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Kalvor\\Resources\\Recorder\n\n");
    runOk({"query", "hkey_local_machine\\software\\kalvor\\resources", "/v", "wardexmarker"});
    EXPECT_EQ(out_.str(), "\nHKEY_LOCAL_MACHINE\\software\\kalvor\\resources\n"
                          "    WardexMarker    REG_DWORD    0x2a\n\n");

    // What SystemInfo reads is what the tool wrote.
    std::string text;
    int32_t number = 0;
    EXPECT_EQ(SystemInfo::readResourceString("ConfigurationDir", text), SI_OK);
    EXPECT_EQ(text, "C:\\Kalvor\\conf");
    EXPECT_EQ(SystemInfo::readResourceInteger("Hex", number), SI_OK);
    EXPECT_EQ(number, -1);
    EXPECT_EQ(SystemInfo::readResourceString("List", text), SI_OK);
    EXPECT_EQ(text, std::string("a\0b c", 5));
}

TEST_F(KalvorRegTest, RootAbbreviationsChooseTheHiveFile) {
    const struct {
        std::string root;
        std::string file;
    } cases[] = {{"HKLM", "HKEY_LOCAL_MACHINE"},  {"hkcu", "HKEY_CURRENT_USER"},
                 {"HKCR", "HKEY_CLASSES_ROOT"},   {"HKU", "HKEY_USERS"},
                 {"HKCC", "HKEY_CURRENT_CONFIG"}, {"HKEY_USERS", "HKEY_USERS"}};
    for (const auto& c : cases) {
        runOk({"add", c.root + "\\Test\\", "/v", "V", "/d", c.root, "/f"});
        EXPECT_NE(readFile(registry_ + "/" + c.file + ".reg").find("\"V\"=\"" + c.root + "\""),
                  std::string::npos)
            << c.root;
    }
}

TEST_F(KalvorRegTest, BadArgumentsFailWithoutWritingAnything) {
    const Arguments cases[] = {
        {},
        {"frob", "HKLM\\A"},
        {"add"},
        {"add", "HKLM\\A", "HKLM\\B"},
        {"add", "HKXX\\A", "/v", "N", "/d", "1"},
        {"add", "\\\\host\\HKLM\\A", "/v", "N", "/d", "1"},
        {"add", "HKLM\\A", "/v"},
        {"add", "HKLM\\A", "/v", "N", "/v", "M"},
        {"add", "HKLM\\A", "/v", "N", "/ve"},
        {"add", "HKLM\\A", "/d", "no value name"},
        {"add", "HKLM\\A", "/v", "N", "/x"},
        {"add", "HKLM\\A", "/v", "N", "/t", "REG_BINARY", "/d", "00"},
        {"add", "HKLM\\A", "/v", "N", "/t", "REG_DWORD"},
        {"add", "HKLM\\A", "/v", "N", "/t", "REG_DWORD", "/d", "12x"},
        {"add", "HKLM\\A", "/v", "N", "/t", "REG_DWORD", "/d", "-1"},
        {"add", "HKLM\\A", "/v", "N", "/t", "REG_DWORD", "/d", "4294967296"},
        {"add", "HKLM\\A", "/v", "N", "/t", "REG_DWORD", "/d", "0x100000000"},
        {"add", "HKLM\\A", "/v", "N", "/t", "REG_DWORD", "/d", "0x"},
        {"query", "HKLM\\A", "/f"},
        {"query", "HKLM\\A", "/s", "/v", "N"},
        {"delete", "HKLM\\A", "/v", "N"},
        {"delete", "HKLM", "/f"},
        {"export", "HKLM\\A"},
        {"export", "HKLM\\A", dir_.file("out.reg"), "/f"},
    };
    for (const Arguments& arguments : cases) {
        std::string joined;
        for (const std::string& argument : arguments)
            joined += argument + " ";
        EXPECT_EQ(run(arguments), 1) << joined;
        EXPECT_EQ(err_.str().rfind("ERROR: ", 0), 0u) << joined;
        EXPECT_FALSE(exists(registry_)) << joined;
        EXPECT_FALSE(exists(dir_.file("out.reg"))) << joined;
    }
}

TEST_F(KalvorRegTest, OverwritingAndDeletingNeedForce) {
    const std::string key = "HKLM\\SOFTWARE\\Kalvor\\Resources";
    runOk({"add", key, "/v", "N", "/t", "REG_DWORD", "/d", "1"});
    const std::string before = readFile(RegistryStore::hivePath(RegistryRoot::LocalMachine));
    EXPECT_EQ(run({"add", key, "/v", "n", "/t", "REG_DWORD", "/d", "2"}), 1);
    EXPECT_NE(err_.str().find("/f"), std::string::npos);
    EXPECT_EQ(readFile(RegistryStore::hivePath(RegistryRoot::LocalMachine)), before);
    runOk({"add", key, "/v", "n", "/t", "REG_DWORD", "/d", "2", "/f"});
    int32_t number = 0;
    EXPECT_EQ(SystemInfo::readResourceInteger("N", number), SI_OK);
    EXPECT_EQ(number, 2);

    runOk({"add", key + "\\Sub", "/v", "S", "/d", "s"});
    runOk({"add", key, "/v", "Other", "/d", "o"});
    EXPECT_EQ(run({"delete", key, "/v", "Absent", "/f"}), 1);
    EXPECT_NE(err_.str().find("unable to find"), std::string::npos);
    runOk({"delete", key, "/v", "N", "/f"});
    EXPECT_EQ(SystemInfo::readResourceInteger("N", number), SI_MISSING);
    runOk({"delete", key, "/va", "/f"});
    std::string text;
    EXPECT_EQ(SystemInfo::readResourceString("Other", text), SI_MISSING);
    EXPECT_EQ(SystemInfo::readString(SystemInfo::kResourceKey + std::string("\\Sub"), "S", text),
              SI_OK);
    runOk({"delete", "HKLM\\SOFTWARE\\Kalvor", "/f"});
    EXPECT_EQ(run({"query", key + "\\Sub"}), 1);
    EXPECT_EQ(run({"delete", "HKLM\\SOFTWARE\\Kalvor", "/f"}), 1);
}

TEST_F(KalvorRegTest, ExportWritesTheKeyAndItsSubKeysOnly) {
    runOk({"add", "HKLM\\SOFTWARE\\Kalvor\\Resources", "/v", "A", "/d", "a"});
    runOk({"add", "HKLM\\SOFTWARE\\Kalvor\\Resources\\Recorder", "/v", "B", "/t", "REG_DWORD", "/d",
           "1"});
    runOk({"add", "HKLM\\SOFTWARE\\Other", "/v", "C", "/d", "c"});
    const std::string file = dir_.file("export.reg");
    runOk({"export", "HKLM\\SOFTWARE\\Kalvor\\Resources", file});
    const std::string expected =
        "REGEDIT4\r\n"
        "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kalvor\\Resources]\r\n"
        "\"A\"=\"a\"\r\n"
        "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kalvor\\Resources\\Recorder]\r\n"
        "\"B\"=dword:00000001\r\n"
        "\r\n";
    EXPECT_EQ(readFile(file), expected);
    std::ofstream(file) << "keep";
    EXPECT_EQ(run({"export", "HKLM\\SOFTWARE\\Kalvor\\Resources", file}), 1);
    EXPECT_EQ(readFile(file), "keep");
    runOk({"export", "HKLM\\SOFTWARE\\Kalvor\\Resources", file, "/y"});
    EXPECT_EQ(readFile(file), expected);
    EXPECT_EQ(run({"export", "HKLM\\SOFTWARE\\Absent", dir_.file("absent.reg")}), 1);
}

TEST_F(KalvorRegTest, ACorruptHiveIsReportedAndLeftAlone) {
    ASSERT_EQ(::mkdir(registry_.c_str(), 0777), 0);
    const std::string path = RegistryStore::hivePath(RegistryRoot::LocalMachine);
    std::ofstream(path, std::ios::binary) << "REGEDIT4\r\nnot a line\r\n";
    EXPECT_EQ(run({"add", "HKLM\\A", "/v", "N", "/d", "x"}), 1);
    EXPECT_NE(err_.str().find("line 2"), std::string::npos) << err_.str();
    EXPECT_EQ(run({"query", "HKLM\\A"}), 1);
    EXPECT_EQ(readFile(path), "REGEDIT4\r\nnot a line\r\n");
}

TEST_F(KalvorRegTest, TheProgramRunsTheSameCommands) {
    const std::string program = Kalvor::Test::helperProgramPath("kalvor-reg");
    const std::string output = dir_.file("stdout.txt");
    {
        Kalvor::Test::ChildProcess add(program,
                                       {"add", "HKLM\\K", "/v", "V", "/t", "REG_DWORD", "/d", "7"});
        EXPECT_EQ(add.wait(), 0);
    }
    {
        Kalvor::Test::ChildProcess query(program, {"query", "HKLM\\K", "/v", "V"}, output);
        EXPECT_EQ(query.wait(), 0);
        EXPECT_EQ(readFile(output), "\nHKEY_LOCAL_MACHINE\\K\n    V    REG_DWORD    0x7\n\n");
    }
    {
        Kalvor::Test::ChildProcess bad(program, {"add", "HKLM\\K", "/v", "V", "/d", "8"});
        EXPECT_EQ(bad.wait(), 1);
    }
    {
        Kalvor::Test::ChildProcess help(program, {"--help"}, output);
        EXPECT_EQ(help.wait(), 0);
        EXPECT_NE(readFile(output).find("/f"), std::string::npos);
    }
}

// Across accounts: root runs the program as other accounts through setpriv, with numeric ids
// that need no entry in the password file. The machine folder is root's (0755).
const char kSetpriv[] = "/usr/bin/setpriv";
constexpr uid_t kAccount = 4711;
constexpr uid_t kOtherAccount = 4712;

class KalvorRegAccountsTest : public KalvorRegTest {
protected:
    void SetUp() override {
        if (::geteuid() != 0 || ::access(kSetpriv, X_OK) != 0)
            GTEST_SKIP() << "acting as other accounts needs root and " << kSetpriv;
        ASSERT_EQ(::chmod(dir_.path().c_str(), 0755), 0);
        ASSERT_EQ(::mkdir(registry_.c_str(), 0755), 0);
    }
    std::string folder(const std::string& path, uid_t owner, mode_t mode) {
        EXPECT_EQ(::mkdir(path.c_str(), mode), 0) << path;
        EXPECT_EQ(::chmod(path.c_str(), mode), 0) << path;
        EXPECT_EQ(::chown(path.c_str(), owner, owner), 0) << path;
        return path;
    }
    // kalvor-reg as `account` with its XDG_STATE_HOME; out_ and err_ get its output.
    int runAs(uid_t account, const std::string& state, const Arguments& arguments) {
        Kalvor::Test::ScopedEnv home("XDG_STATE_HOME", state);
        const std::string id = std::to_string(account);
        Arguments all{"--reuid=" + id, "--regid=" + id, "--clear-groups",
                      Kalvor::Test::helperProgramPath("kalvor-reg")};
        all.insert(all.end(), arguments.begin(), arguments.end());
        Kalvor::Test::ChildProcess child(kSetpriv, all, dir_.file("out.txt"), dir_.file("err.txt"));
        const int exit = child.wait();
        out_.str(readFile(dir_.file("out.txt")));
        err_.str(readFile(dir_.file("err.txt")));
        return exit;
    }
};

TEST_F(KalvorRegAccountsTest, AnAccountChangesOnlyItsOwnValuesAndSourceShowsWhereEachIsFrom) {
    const std::string key = "HKLM\\K";
    runOk({"add", key, "/v", "Machine", "/t", "REG_DWORD", "/d", "1"});
    runOk({"add", key, "/v", "Both", "/t", "REG_DWORD", "/d", "2"});
    const std::string machineFile = RegistryStore::hivePath(RegistryRoot::LocalMachine);
    ASSERT_EQ(::chmod(machineFile.c_str(), 0644), 0);
    const std::string machine = readFile(machineFile);
    const std::map<uid_t, std::string> states = {
        {0, dir_.file("root-state")},
        {kAccount, folder(dir_.file("state"), kAccount, 0700)},
        {kOtherAccount, folder(dir_.file("other-state"), kOtherAccount, 0700)}};
    const std::string done = "The operation completed successfully.\n";
    const std::string rootsView = "\nHKEY_LOCAL_MACHINE\\K\n"
                                  "    Machine    REG_DWORD    0x1    (machine)\n"
                                  "    Both    REG_DWORD    0x2    (machine)\n\n";
    const struct {
        uid_t account;
        Arguments arguments;
        int exit;
        std::string output; // all of it on success, a part of the error otherwise
    } steps[] = {
        {kAccount, {"add", key, "/v", "Both", "/t", "REG_DWORD", "/d", "5"}, 1, "/f overwrites"},
        {kAccount, {"add", key, "/v", "Both", "/t", "REG_DWORD", "/d", "5", "/f"}, 0, done},
        {kAccount, {"add", key, "/v", "Own", "/d", "mine"}, 0, done},
        {kAccount,
         {"query", key, "/source"},
         0,
         "\nHKEY_LOCAL_MACHINE\\K\n"
         "    Machine    REG_DWORD    0x1    (machine)\n"
         "    Both    REG_DWORD    0x5    (account)\n"
         "    Own    REG_SZ    mine    (account)\n\n"},
        {kAccount,
         {"query", "HKLM", "/s", "/source"},
         0,
         "\nHKEY_LOCAL_MACHINE\n\nHKEY_LOCAL_MACHINE\\K\n"
         "    Machine    REG_DWORD    0x1    (machine)\n"
         "    Both    REG_DWORD    0x5    (account)\n"
         "    Own    REG_SZ    mine    (account)\n\n"},
        {kOtherAccount, {"query", key, "/source"}, 0, rootsView},
        {0, {"query", key, "/SOURCE"}, 0, rootsView},
        {kAccount,
         {"delete", key, "/v", "Machine", "/f"},
         1,
         "ERROR: The value Machine of HKEY_LOCAL_MACHINE\\K is a machine value, which this "
         "account cannot delete: its changes go to its own store " +
             states.at(kAccount) + "/kalvor/registry/HKEY_LOCAL_MACHINE.reg.\n"},
        {kOtherAccount, {"delete", key, "/f"}, 1, "The key HKEY_LOCAL_MACHINE\\K is a machine key"},
        {kOtherAccount, {"delete", key, "/va", "/f"}, 1, "are machine values"},
        {kAccount, {"delete", key, "/v", "Absent", "/f"}, 1, "unable to find"},
        // Without its own value, root's shows again.
        {kAccount, {"delete", key, "/v", "Both", "/f"}, 0, done},
        {kAccount,
         {"query", key, "/v", "both", "/source"},
         0,
         "\nHKEY_LOCAL_MACHINE\\K\n    Both    REG_DWORD    0x2    (machine)\n\n"},
    };
    for (const auto& step : steps) {
        const int exit = runAs(step.account, states.at(step.account), step.arguments);
        EXPECT_EQ(exit, step.exit)
            << step.account << " " << step.arguments[0] << ": " << err_.str();
        if (step.exit == 0)
            EXPECT_EQ(out_.str(), step.output) << step.account << " " << step.arguments[0];
        else
            EXPECT_NE(err_.str().find(step.output), std::string::npos) << err_.str();
    }
    EXPECT_EQ(readFile(machineFile), machine);
    EXPECT_FALSE(exists(states.at(0)));
}

TEST_F(KalvorRegAccountsTest, AStoreFolderThatIsALinkOrNotTheAccountsAloneIsRefused) {
    const std::string state = folder(dir_.file("state"), kAccount, 0755);
    const std::string target = folder(dir_.file("target"), kAccount, 0700);
    const std::string store = folder(state + "/kalvor", kAccount, 0700) + "/registry";
    const struct {
        std::string name;
        std::function<int()> make;
        std::string why;
    } cases[] = {
        {"link", [&] { return ::symlink(target.c_str(), store.c_str()); },
         "not a folder (a link or a file is not taken)"},
        {"root's", [&] { return ::mkdir(store.c_str(), 0700); }, "belongs to account 0"},
        {"another account's",
         [&] { return ::mkdir(store.c_str(), 0700) | ::chown(store.c_str(), kOtherAccount, 0); },
         "belongs to account 4712"},
        {"open to others",
         [&] {
             return ::mkdir(store.c_str(), 0700) | ::chmod(store.c_str(), 0770) |
                    ::chown(store.c_str(), kAccount, kAccount);
         },
         "others can write to it"},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all(store);
        ASSERT_EQ(c.make(), 0) << c.name;
        EXPECT_EQ(runAs(kAccount, state, {"add", "HKLM\\K", "/v", "V", "/d", "x"}), 1) << c.name;
        EXPECT_EQ(err_.str(), "ERROR: the folder of this account's registry values is refused: " +
                                  store + ": " + c.why + "\n")
            << c.name;
        EXPECT_TRUE(std::filesystem::is_empty(target)) << c.name;
        EXPECT_FALSE(exists(store + "/HKEY_LOCAL_MACHINE.reg")) << c.name;
        EXPECT_TRUE(std::filesystem::is_empty(registry_)) << c.name;
    }
}

} // namespace
} // namespace Kalvor

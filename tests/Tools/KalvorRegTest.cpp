// kalvor-reg: its verbs in-process through runRegCommand, and the built program itself.
#include "Common/SystemInfo.h"
#include "Common/posix/RegistryStore.h"
#include "RegCommand.h"
#include "posix/OtherAccounts.h"

#include <gtest/gtest.h>

#include <chrono>
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
using Test::readFile;

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

    Kalvor::Test::Sandbox sandbox_;
    const std::string registry_ = sandbox_.registryDirectory();
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
    // No registry folder to start with: a failed command must not make one either.
    ASSERT_TRUE(std::filesystem::remove(registry_));
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
        {"export", "HKLM\\A", sandbox_.file("out.reg"), "/f"},
        {"import"},
        {"import", sandbox_.file("a.reg"), sandbox_.file("b.reg")},
        {"import", sandbox_.file("a.reg"), "/f"},
        {"import", "/s"},
        // Read as the hives are (RegistryStore): a missing file, a link, a FIFO fail alike.
        {"import", sandbox_.file("absent.reg")},
    };
    for (const Arguments& arguments : cases) {
        std::string joined;
        for (const std::string& argument : arguments)
            joined += argument + " ";
        EXPECT_EQ(run(arguments), 1) << joined;
        EXPECT_EQ(err_.str().rfind("ERROR: ", 0), 0u) << joined;
        EXPECT_FALSE(exists(registry_)) << joined;
        EXPECT_FALSE(exists(sandbox_.file("out.reg"))) << joined;
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
    const std::string file = sandbox_.file("export.reg");
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
    EXPECT_EQ(run({"export", "HKLM\\SOFTWARE\\Absent", sandbox_.file("absent.reg")}), 1);
}

// Import: what regedit /s does with a REGEDIT4 file.
class KalvorRegImportTest : public KalvorRegTest {
protected:
    std::string write(const std::string& text) {
        const std::string path = sandbox_.file("import-" + std::to_string(++files_) + ".reg");
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    void import(const std::string& text) {
        runOk({"import", write(text)});
        EXPECT_EQ(out_.str(), "The operation completed successfully.\n");
    }
    std::string machineText(RegistryRoot root = RegistryRoot::LocalMachine) {
        return readFile(RegistryStore::hivePath(root));
    }
    std::string query(const std::string& key) {
        EXPECT_EQ(run({"query", key, "/s"}), 0) << key << ": " << err_.str();
        return out_.str();
    }

    int files_ = 0;
};

TEST_F(KalvorRegImportTest, LoadsEveryKindOfValueOfEveryRootAndSkipsComments) {
    runOk({"add", "HKLM\\SOFTWARE\\Kalvor\\Resources", "/v", "StartupDebugLevel", "/t", "REG_DWORD",
           "/d", "5"});
    import("REGEDIT4\r\n"
           "\r\n"
           "; The first-run values.\r\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kalvor\\Resources]\r\n"
           "  ; indented comment\r\n"
           "\"ConfigurationDir\"=\"/home/u/.config/kalvor/\"\r\n"
           "\"startupdebuglevel\"=dword:00000001\r\n"
           "\"Quoted\"=\"a \\\"b\\\" c:\\\\d\"\r\n"
           "@=\"default\"\r\n"
           "\"Bytes\"=hex:01,02,\\\r\n"
           "  ff\r\n"
           "\"List\"=hex(7):61,00,62,00,00\r\n"
           "\r\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kalvor\\Empty]\r\n"
           "[hkey_current_user\\Software\\Own]\n"
           "\"Mine\"=\"yes\"\n");
    EXPECT_EQ(query("HKLM\\SOFTWARE\\Kalvor"),
              "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Kalvor\n\n"
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\Kalvor\\Resources\n"
              "    StartupDebugLevel    REG_DWORD    0x1\n"
              "    ConfigurationDir    REG_SZ    /home/u/.config/kalvor/\n"
              "    Quoted    REG_SZ    a \"b\" c:\\d\n"
              "    (Default)    REG_SZ    default\n"
              "    Bytes    REG_BINARY    0102FF\n"
              "    List    REG_MULTI_SZ    a\\0b\n\n"
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\Kalvor\\Empty\n\n");
    EXPECT_EQ(query("HKCU\\Software"), "\nHKEY_CURRENT_USER\\Software\n\n"
                                       "HKEY_CURRENT_USER\\Software\\Own\n"
                                       "    Mine    REG_SZ    yes\n\n");
    // The comments were the file's, not the store's.
    EXPECT_EQ(machineText().find(';'), std::string::npos);
    // What the supervisor reads is what was imported.
    int32_t level = 0;
    EXPECT_EQ(SystemInfo::readResourceInteger("StartupDebugLevel", level), SI_OK);
    EXPECT_EQ(level, 1);
}

TEST_F(KalvorRegImportTest, DeletesKeysWithEverythingBelowThemAndSingleValuesInFileOrder) {
    const std::string base = "HKLM\\SOFTWARE\\Kalvor";
    runOk({"add", base + "\\Old\\Deep", "/v", "D", "/d", "d"});
    runOk({"add", base + "\\Older", "/v", "Kept", "/d", "k"});
    runOk({"add", base + "\\Values", "/v", "Gone", "/d", "g"});
    runOk({"add", base + "\\Values", "/v", "Stays", "/d", "s"});
    runOk({"add", base + "\\Values", "/ve", "/d", "default"});
    runOk({"add", base + "\\Again", "/v", "Before", "/d", "b"});
    import("REGEDIT4\n"
           "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Kalvor\\old]\n"
           "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Kalvor\\Absent]\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kalvor\\Values]\n"
           "\"gone\"=-\n"
           "\"Absent\"=-\n"
           "@=-\n"
           "\"Dash\"=\"=-\"\n"
           // Deleted, then made anew: the order of the file counts.
           "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Kalvor\\Again]\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kalvor\\Again]\n"
           "\"After\"=\"a\"\n");
    EXPECT_EQ(query(base), "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Kalvor\n\n"
                           "HKEY_LOCAL_MACHINE\\SOFTWARE\\Kalvor\\Older\n"
                           "    Kept    REG_SZ    k\n\n"
                           "HKEY_LOCAL_MACHINE\\SOFTWARE\\Kalvor\\Values\n"
                           "    Stays    REG_SZ    s\n"
                           "    Dash    REG_SZ    =-\n\n"
                           "HKEY_LOCAL_MACHINE\\SOFTWARE\\Kalvor\\Again\n"
                           "    After    REG_SZ    a\n\n");
}

TEST_F(KalvorRegImportTest, AMalformedFileChangesNothingAndNamesItsLine) {
    runOk({"add", "HKLM\\K", "/v", "V", "/d", "before"});
    const std::string machine = machineText();
    const std::string good = "[HKEY_LOCAL_MACHINE\\K]\n\"V\"=\"after\"\n[HKEY_USERS\\U]\n";
    const struct {
        std::string text;
        std::string error;
    } cases[] = {
        {"", "line 1: the file does not start with REGEDIT4"},
        {"Windows Registry Editor Version 5.00\n" + good, "line 1: the file does not start"},
        {"REGEDIT4\n\"V\"=\"x\"\n", "line 2: a value line before the first section"},
        {"REGEDIT4\n" + good + "\"W\"=\"unclosed\n", "line 5: badly quoted text"},
        {"REGEDIT4\n" + good + "\"W\"=dword:123456789\n", "line 5: dword: needs"},
        {"REGEDIT4\n" + good + "\"W\"=hex:01,\\\n", "line 5: hex data goes on past the end"},
        {"REGEDIT4\n" + good + "W=\"x\"\n", "line 5: neither a section nor a value line"},
        {"REGEDIT4\n" + good + "[HKEY_LOCAL_MACHINE\\K\n", "line 5: a section line must end"},
        {"REGEDIT4\n" + good + "[HKLM\\K]\n", "line 5: a section must name a key below a root"},
        {"REGEDIT4\n" + good + "[-HKEY_LOCAL_MACHINE]\n", "line 5: a root key cannot be deleted"},
        {"REGEDIT4\n" + good + "[-HKEY_USERS\\U]\n\"V\"=-\n",
         "line 6: a value line under a key that is deleted"},
        {"REGEDIT4\n" + good + std::string("\"a\0b\"=\"x\"\n", 10), "line 5: a value name cannot"},
    };
    for (const auto& c : cases) {
        const std::string path = write(c.text);
        EXPECT_EQ(run({"import", path}), 1) << c.text;
        EXPECT_EQ(out_.str(), "");
        EXPECT_EQ(err_.str().rfind("ERROR: " + path + ": " + c.error, 0), 0u)
            << "wanted " << c.error << ", got " << err_.str();
        EXPECT_EQ(machineText(), machine) << c.text;
        EXPECT_FALSE(exists(RegistryStore::hivePath(RegistryRoot::Users))) << c.text;
    }
}

TEST_F(KalvorRegImportTest, ExportThenImportGivesTheSameStore) {
    const std::string key = "HKLM\\SOFTWARE\\Kalvor";
    runOk({"add", key + "\\Resources", "/v", "ConfigurationDir", "/d", "C:\\Kalvor\\\"conf\"\\"});
    runOk({"add", key + "\\Resources", "/v", "Level", "/t", "REG_DWORD", "/d", "0xfffffffe"});
    runOk({"add", key + "\\Resources", "/v", "List", "/t", "REG_MULTI_SZ", "/d", "a\\0\\0b"});
    runOk({"add", key + "\\Resources", "/v", "Path", "/t", "REG_EXPAND_SZ", "/d", "%HOME%"});
    runOk({"add", key + "\\Resources", "/ve", "/d", ""});
    runOk({"add", key + "\\Resources\\Recorder", "/v", "WardexMarker:u", "/t", "REG_DWORD", "/d",
           "3"});
    runOk({"add", key + "\\Empty"});
    const std::string before = machineText();
    const std::string file = sandbox_.file("export.reg");
    runOk({"export", key, file});
    runOk({"delete", key, "/f"});
    ASSERT_NE(machineText(), before);
    runOk({"import", file});
    EXPECT_EQ(machineText(), before);
    // Once more over the same values: nothing to change.
    runOk({"import", file});
    EXPECT_EQ(machineText(), before);
}

TEST_F(KalvorRegTest, ACorruptHiveIsReportedAndLeftAlone) {
    const std::string path = RegistryStore::hivePath(RegistryRoot::LocalMachine);
    std::ofstream(path, std::ios::binary) << "REGEDIT4\r\nnot a line\r\n";
    EXPECT_EQ(run({"add", "HKLM\\A", "/v", "N", "/d", "x"}), 1);
    EXPECT_NE(err_.str().find("line 2"), std::string::npos) << err_.str();
    EXPECT_EQ(run({"query", "HKLM\\A"}), 1);
    EXPECT_EQ(readFile(path), "REGEDIT4\r\nnot a line\r\n");
}

TEST_F(KalvorRegTest, TheProgramRunsTheSameCommands) {
    const std::string program = Kalvor::Test::helperProgramPath("kalvor-reg");
    const auto exitOf = [&](const Arguments& arguments) {
        return Kalvor::Test::ChildProcess(program, arguments).waitForExit();
    };
    const auto capture = Kalvor::Test::ChildProcess::capturing();
    EXPECT_EQ(exitOf({"add", "HKLM\\K", "/v", "V", "/t", "REG_DWORD", "/d", "7"}), 0);
    {
        Kalvor::Test::ChildProcess query(program, {"query", "HKLM\\K", "/v", "V"}, capture);
        EXPECT_EQ(query.readToEnd(std::chrono::seconds(60)),
                  "\nHKEY_LOCAL_MACHINE\\K\n    V    REG_DWORD    0x7\n\n");
        EXPECT_EQ(query.waitForExit(), 0);
    }
    EXPECT_EQ(exitOf({"add", "HKLM\\K", "/v", "V", "/d", "8"}), 1);
    {
        const std::string file = sandbox_.file("import.reg");
        std::ofstream(file, std::ios::binary) << "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"V\"=-\n";
        EXPECT_EQ(exitOf({"import", file}), 0);
        EXPECT_EQ(exitOf({"query", "HKLM\\K", "/v", "V"}), 1);
        std::ofstream(file, std::ios::binary) << "REGEDIT4\n\"V\"=-\n";
        EXPECT_EQ(exitOf({"import", file}), 1);
    }
    {
        Kalvor::Test::ChildProcess help(program, {"--help"}, capture);
        const std::string text = help.readToEnd(std::chrono::seconds(60));
        EXPECT_EQ(help.waitForExit(), 0);
        EXPECT_NE(text.find("/f"), std::string::npos);
        EXPECT_NE(text.find("import FILE"), std::string::npos);
    }
}

// Across accounts: root runs the program as other accounts (posix/OtherAccounts.h). The machine
// folder is root's (0755).
using Test::kAccount;
using Test::kOtherAccount;
using Test::makeFolder;

class KalvorRegAccountsTest : public KalvorRegTest {
protected:
    void SetUp() override {
        if (!Kalvor::Test::canActAsOtherAccounts())
            GTEST_SKIP() << Kalvor::Test::kNoOtherAccounts;
        ASSERT_NO_FATAL_FAILURE(Kalvor::Test::letOtherAccountsRead(sandbox_));
    }
    // kalvor-reg as `account` with its XDG_STATE_HOME; out_ and err_ get its output.
    int runAs(uid_t account, const std::string& state, const Arguments& arguments) {
        const Kalvor::Test::AccountRun run =
            Kalvor::Test::runAsAccount(sandbox_, account, state, "kalvor-reg", arguments);
        out_.str(run.output);
        err_.str(run.errors);
        return run.exit;
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
        {0, sandbox_.file("root-state")},
        {kAccount, makeFolder(sandbox_.file("state"), kAccount, 0700)},
        {kOtherAccount, makeFolder(sandbox_.file("other-state"), kOtherAccount, 0700)}};
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

TEST_F(KalvorRegAccountsTest, AnAccountImportsIntoItsOwnStoreAndCannotDeleteMachineValues) {
    runOk({"add", "HKLM\\K", "/v", "Machine", "/d", "m"});
    const std::string machineFile = RegistryStore::hivePath(RegistryRoot::LocalMachine);
    ASSERT_EQ(::chmod(machineFile.c_str(), 0644), 0);
    const std::string machine = readFile(machineFile);
    const std::string state = makeFolder(sandbox_.file("state"), kAccount, 0700);
    const std::string file = sandbox_.file("import.reg");
    const auto importAs = [&](const std::string& text) {
        std::ofstream(file, std::ios::binary) << text;
        EXPECT_EQ(::chmod(file.c_str(), 0644), 0);
        return runAs(kAccount, state, {"import", file});
    };
    ASSERT_EQ(importAs("REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"Own\"=\"o\"\n"
                       "[HKEY_CURRENT_USER\\C]\n\"Own\"=\"c\"\n"),
              0)
        << err_.str();
    const std::string store = state + "/kalvor/registry/";
    const std::string own = readFile(store + "HKEY_LOCAL_MACHINE.reg");
    EXPECT_NE(own.find("\"Own\"=\"o\""), std::string::npos) << own;
    EXPECT_NE(readFile(store + "HKEY_CURRENT_USER.reg").find("\"Own\"=\"c\""), std::string::npos);

    // The second root's refusal leaves the first root's store as it was too.
    EXPECT_EQ(importAs("REGEDIT4\n[HKEY_CURRENT_USER\\C]\n\"Own\"=-\n"
                       "[HKEY_LOCAL_MACHINE\\K]\n\"Machine\"=-\n"),
              1);
    EXPECT_EQ(err_.str(), "ERROR: The value Machine of HKEY_LOCAL_MACHINE\\K is a machine value, "
                          "which this account cannot delete: its changes go to its own store " +
                              store + "HKEY_LOCAL_MACHINE.reg.\n");
    EXPECT_NE(readFile(store + "HKEY_CURRENT_USER.reg").find("\"Own\"=\"c\""), std::string::npos);
    EXPECT_EQ(readFile(store + "HKEY_LOCAL_MACHINE.reg"), own);

    // As with delete: the key goes from the account's store, and once only the machine's is
    // left, deleting it is refused.
    EXPECT_EQ(importAs("REGEDIT4\n[-HKEY_LOCAL_MACHINE\\K]\n"), 0) << err_.str();
    EXPECT_EQ(readFile(store + "HKEY_LOCAL_MACHINE.reg").find("Own"), std::string::npos);
    EXPECT_EQ(importAs("REGEDIT4\n[-HKEY_LOCAL_MACHINE\\K]\n"), 1);
    EXPECT_NE(err_.str().find("The key HKEY_LOCAL_MACHINE\\K is a machine key"), std::string::npos);
    EXPECT_EQ(readFile(machineFile), machine);
}

TEST_F(KalvorRegAccountsTest, AStoreFolderThatIsALinkOrNotTheAccountsAloneIsRefused) {
    const std::string state = makeFolder(sandbox_.file("state"), kAccount, 0755);
    const std::string target = makeFolder(sandbox_.file("target"), kAccount, 0700);
    const std::string store = makeFolder(state + "/kalvor", kAccount, 0700) + "/registry";
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

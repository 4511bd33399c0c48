// The registry tests across accounts, of CommonTests and ToolsTests: root runs the build's
// programs as other accounts through setpriv, with numeric ids that need no entry in the
// password file, each with a state folder (XDG_STATE_HOME) that holds its own registry store.
#pragma once

#include "ChildProcess.h"
#include "Sandbox.h"
#include "TestSupport.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace Kalvor::Test {

constexpr uid_t kAccount = 4711;
constexpr uid_t kOtherAccount = 4712;

inline constexpr char kNoOtherAccounts[] =
    "acting as other accounts needs root, /usr/bin/setpriv and a build every account can reach";

// A folder made at `path` with `mode`, of `owner` and the group of the same number.
inline std::string makeFolder(const std::string& path, uid_t owner, mode_t mode) {
    EXPECT_EQ(::mkdir(path.c_str(), mode), 0) << path;
    EXPECT_EQ(::chmod(path.c_str(), mode), 0) << path;
    EXPECT_EQ(::chown(path.c_str(), owner, owner), 0) << path;
    return path;
}

// The sandbox's machine registry stays root's, but every account must reach it to read it.
inline void letOtherAccountsRead(const Sandbox& sandbox) {
    ASSERT_EQ(::chmod(sandbox.path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(sandbox.registryDirectory().c_str(), 0755), 0);
}

struct AccountRun {
    int exit = -1;
    std::string output;
    std::string errors;
};

// The build's `program` run to its end as `account`, with `state` as its XDG_STATE_HOME.
inline AccountRun runAsAccount(const Sandbox& sandbox, uid_t account, const std::string& state,
                               const std::string& program,
                               const std::vector<std::string>& arguments) {
    ScopedEnv home("XDG_STATE_HOME", state);
    ChildProcess::Options options;
    options.outputFile = sandbox.file("out.txt");
    options.errorFile = sandbox.file("err.txt");
    ChildProcess child =
        startAsAccount(static_cast<int>(account), helperProgramPath(program), arguments, options);
    const int exit = child.waitForExit().value_or(-1);
    return {exit, readFile(options.outputFile), readFile(options.errorFile)};
}

} // namespace Kalvor::Test

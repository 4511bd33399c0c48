// What the job tests share: the helper program, waiting for its ready file, catching a
// JobException for inspection, and the clean-up of containers.
#pragma once

#include "ChildProcesses.h"
#include "Common/Exception.h"
#include "JobInstance/ChildReaper.h"
#include "JobInstance/ProcessInstance.h"
#include "TestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace Kalvor::Test {

inline std::string jobHelperPath() {
    return helperProgramPath("kalvor-job-helper");
}

// One command-line argument in double quotes (for paths: no quotes, no trailing backslash).
inline std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// The helper started by ProcessInstance with `arguments`, for the tests of ProcessInstance
// itself (a test that only needs the helper runs it as a ChildProcess); ended with its job even
// when the test fails half-way.
inline std::unique_ptr<ProcessInstance> startHelper(const std::string& arguments) {
    auto job = std::make_unique<ProcessInstance>(jobHelperPath(), arguments);
    job->setStopWhenDestroyed(true);
    job->execute();
    return job;
}

// The helper in `mode` ("run", "ignore-close"), once it is ready to be told something.
inline std::unique_ptr<ProcessInstance> startReadyHelper(const TempDir& folder,
                                                         const std::string& mode) {
    static int started = 0;
    const std::string ready = folder.file(mode + std::to_string(++started) + ".ready");
    auto job = startHelper(mode + " " + quoted(ready));
    EXPECT_TRUE(waitFor([&] { return fileExists(ready); })) << "the helper never got ready";
    return job;
}

// The helper started from a ProcessLaunch whose command line is the helper and `arguments`.
inline std::unique_ptr<ProcessInstance> launchHelper(const std::string& arguments,
                                                     ProcessLaunch launch = {}) {
    launch.commandLine = quoted(jobHelperPath()) + " " + arguments;
    auto job = std::make_unique<ProcessInstance>(launch);
    job->setStopWhenDestroyed(true);
    job->execute();
    return job;
}

// The process id a helper wrote to its ready file ("grandchild" modes).
// The process id a helper wrote into its ready file; 0 when none came. Waits for the content:
// under Wine a file just renamed into place can read as empty for a moment.
inline uint32_t processIdIn(const std::string& readyFile) {
    uint32_t id = 0;
    waitFor([&] {
        id = static_cast<uint32_t>(std::strtoul(readFile(readyFile).c_str(), nullptr, 10));
        return id != 0;
    });
    return id;
}

inline bool contains(const std::vector<uint32_t>& processes, uint32_t process) {
    return std::find(processes.begin(), processes.end(), process) != processes.end();
}

// For the tests of containers: this process is the subreaper of what they start (posix), and
// whatever happens to a test, what its containers still hold is killed and reaped.
class ContainerTest : public ::testing::Test {
protected:
    void SetUp() override {
        becomeChildSubreaper();
        startDesktopOutsideContainers();
    }
    void TearDown() override {
        for (ProcessInstance* job : containers_)
            job->killContainer();
        EXPECT_TRUE(waitFor([&] {
            ChildReaper::reapInherited();
            for (ProcessInstance* job : containers_) {
                job->status(); // reaps its own process
                if (!job->containerProcesses().empty())
                    return false;
            }
            return true;
        })) << "a container kept a process";
        EXPECT_TRUE(waitFor([] {
            ChildReaper::reapInherited();
            return childProcessIds().empty();
        })) << "a child or a zombie was left behind";
        endChildSubreaper();
    }

    ProcessInstance& launchIn(const std::string& container, const std::string& arguments,
                              ProcessLaunch launch = {}) {
        launch.container = container;
        return keep(launchHelper(arguments, launch));
    }
    // Another job (an attached one, say) whose container is cleaned up with the test's.
    ProcessInstance& keep(std::unique_ptr<ProcessInstance> job) {
        jobs_.push_back(std::move(job));
        containers_.push_back(jobs_.back().get());
        return *jobs_.back();
    }

    TempDir folder_;
    // Unique among runs side by side: the temporary folder's name.
    const std::string container_ =
        "test-" + folder_.path().substr(folder_.path().find_last_of("/\\") + 1);

private:
    std::vector<std::unique_ptr<ProcessInstance>> jobs_;
    std::vector<ProcessInstance*> containers_;
};

template <typename Action> JobException captureJobError(Action&& action) {
    try {
        action();
    } catch (const JobException& error) {
        return error;
    }
    ADD_FAILURE() << "expected a JobException";
    return JobException(JB_NONE);
}

} // namespace Kalvor::Test

// What the job tests share: the helper program, waiting for its ready file, and catching a
// JobException for inspection.
#pragma once

#include "Common/Exception.h"
#include "JobInstance/ProcessInstance.h"
#include "TestSupport.h"

#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <string>

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

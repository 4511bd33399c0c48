// After the tests of a run: fails the run if a child process is still there (running, or a
// zombie on posix), and ends what is left, so no test leaves a process behind even when it
// fails half-way.
#include "ChildProcesses.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace Kalvor::Test {
namespace {

class NoChildLeftBehind : public ::testing::Environment {
public:
    void TearDown() override {
        // Released children end and are reaped in the background; give them the time.
        if (waitFor([] { return childProcessIds().empty(); }))
            return;
        for (const uint32_t child : childProcessIds()) {
            ADD_FAILURE() << "child process " << child << " was left behind";
            killChildProcess(child);
        }
    }
};

[[maybe_unused]] ::testing::Environment* const registered =
    ::testing::AddGlobalTestEnvironment(new NoChildLeftBehind);

} // namespace
} // namespace Kalvor::Test

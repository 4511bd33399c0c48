// Test helper: sends COUNT message lines as fast as it can and reports how long its sends kept
// it blocked.
//
//   kalvor-ipc-burst-sender TARGET SENDER COUNT
//
// Line i is type "BURST", id SENDER, text i (0 to COUNT-1). On success it prints one line,
// "sends=COUNT blocked_us=B longest_us=L", and exits 0; on the first failure it prints the
// exception's report on standard error and exits 1.
//
// B is the time the sending thread spent asleep during the burst: wall time less the time it
// ran and the time it waited for a processor (the kernel's schedstat). Sharing two processors
// with the other senders is not blocking; waiting for a full receiver or a lock is. L is the
// longest single send() by the wall clock, preemptions included, for information.
#include "Common/Exception.h"
#include "IPC/IPCClient.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

struct SchedulerTimes {
    long long runNanoseconds = 0;
    long long waitNanoseconds = 0;
};

SchedulerTimes schedulerTimes() {
    SchedulerTimes times;
    std::ifstream("/proc/thread-self/schedstat") >> times.runNanoseconds >> times.waitNanoseconds;
    return times;
}

} // namespace

int main(int argc, char** argv) {
    using namespace std::chrono;
    if (argc != 4) {
        std::fprintf(stderr, "usage: kalvor-ipc-burst-sender TARGET SENDER COUNT\n");
        return 2;
    }
    const long count = std::atol(argv[3]);
    Kalvor::IPCClient client(argv[1]);
    nanoseconds longest{0};
    const SchedulerTimes before = schedulerTimes();
    const auto start = steady_clock::now();
    try {
        for (long i = 0; i < count; ++i) {
            const std::string text = std::to_string(i);
            const auto sendStart = steady_clock::now();
            client.send("BURST", argv[2], text);
            longest = std::max(longest, steady_clock::now() - sendStart);
        }
    } catch (const Kalvor::Exception& error) {
        std::fprintf(stderr, "%s\n", error.report().c_str());
        return 1;
    }
    const long long wall = duration_cast<nanoseconds>(steady_clock::now() - start).count();
    const SchedulerTimes after = schedulerTimes();
    const long long asleep = wall - (after.runNanoseconds - before.runNanoseconds) -
                             (after.waitNanoseconds - before.waitNanoseconds);
    std::printf("sends=%ld blocked_us=%lld longest_us=%lld\n", count, std::max(asleep, 0LL) / 1000,
                static_cast<long long>(duration_cast<microseconds>(longest).count()));
    return 0;
}

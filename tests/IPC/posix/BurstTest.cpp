// Four sender processes flood one receiver that, like the IPC server, drains its slot only once
// a second: every message must arrive once and in its sender's order, and no sender may be kept
// waiting by the slow receiver.
//
// Each sender reports how long it slept in its sends. Part of that is the receiving thread
// waiting for a processor on a busy machine rather than anything the receiver does, so the
// bound is 100 ms on top of the time this process's threads spent waiting for one.
#include "ChildProcess.h"
#include "IPC/IPCMessage.h"
#include "IPC/MailSlot.h"
#include "Sandbox.h"
#include "Time/Timer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <map>

namespace Kalvor {
namespace {

using namespace std::chrono_literals;

constexpr int kSenders = 4;
constexpr long kEach = 5000;
// The IPC server's polling interval.
constexpr uint32_t kPollMilliseconds = 1000;

struct SenderReport {
    long sends = -1;
    long long blockedMicroseconds = -1;
    long long longestMicroseconds = -1;
};

// Nanoseconds that the threads of this process have spent waiting for a processor.
long long processorWaitNanoseconds() {
    long long total = 0;
    DIR* tasks = ::opendir("/proc/self/task");
    while (dirent* task = tasks ? ::readdir(tasks) : nullptr) {
        if (task->d_name[0] == '.')
            continue;
        long long run = 0;
        long long wait = 0;
        std::ifstream(std::string("/proc/self/task/") + task->d_name + "/schedstat") >> run >> wait;
        total += wait;
    }
    if (tasks)
        ::closedir(tasks);
    return total;
}

SenderReport parseReport(const std::string& line) {
    SenderReport report;
    std::sscanf(line.c_str(), "sends=%ld blocked_us=%lld longest_us=%lld", &report.sends,
                &report.blockedMicroseconds, &report.longestMicroseconds);
    return report;
}

TEST(MailSlotBurst, EveryMessageArrivesOnceInOrderWithoutBlockingTheSenders) {
    Kalvor::Test::Sandbox sandbox;
    const std::string name = "Burst_Core";
    MailSlot receiver(MailSlot::kReceiver, name);

    const long long waitBefore = processorWaitNanoseconds();
    std::vector<Kalvor::Test::ChildProcess> senders;
    for (int s = 0; s < kSenders; ++s) {
        senders.emplace_back(
            Kalvor::Test::helperProgramPath("kalvor-ipc-burst-sender"),
            std::vector<std::string>{name, "S" + std::to_string(s), std::to_string(kEach)},
            Kalvor::Test::ChildProcess::capturing());
        ASSERT_TRUE(senders.back().started());
    }

    std::map<std::string, long> next;
    long received = 0;
    bool inOrder = true;
    const auto deadline = std::chrono::steady_clock::now() + 120s;
    for (bool lastPass = false;
         !lastPass && received < kSenders * kEach && std::chrono::steady_clock::now() < deadline;) {
        // What the senders sent before they ended is in the slot: this pass gets all of it.
        lastPass = std::all_of(senders.begin(), senders.end(),
                               [](auto& sender) { return sender.exitCode().has_value(); });
        std::vector<std::string> lines;
        receiver.receive(lines);
        for (const std::string& line : lines) {
            IPCMessage message;
            ASSERT_TRUE(parseMessageLine(line, message)) << line;
            inOrder = inOrder && message.text == std::to_string(next[message.id]);
            ++next[message.id];
            ++received;
        }
        if (!lastPass && received < kSenders * kEach)
            sleepMilliseconds(kPollMilliseconds);
    }
    const long long receiverWaitMicroseconds = (processorWaitNanoseconds() - waitBefore) / 1000;
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(received, kSenders * kEach);
    for (int s = 0; s < kSenders; ++s)
        EXPECT_EQ(next["S" + std::to_string(s)], kEach) << "sender " << s;

    for (auto& sender : senders) {
        std::string line;
        ASSERT_TRUE(sender.readLine(line, 60s));
        EXPECT_EQ(sender.waitForExit(60s), 0);
        std::printf("%s (receiver waited %lld us for a processor)\n", line.c_str(),
                    receiverWaitMicroseconds);
        const SenderReport report = parseReport(line);
        EXPECT_EQ(report.sends, kEach) << line;
        EXPECT_GE(report.blockedMicroseconds, 0) << line;
        EXPECT_LE(report.blockedMicroseconds, 100000 + receiverWaitMicroseconds)
            << line << ", receiver waited " << receiverWaitMicroseconds << " us for a processor";
    }
}

} // namespace
} // namespace Kalvor

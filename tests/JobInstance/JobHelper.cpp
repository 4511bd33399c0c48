// kalvor-job-helper: the second process of the job tests.
//
//   exit CODE                 ends at once with CODE
//   run [READY]               runs until its main thread gets WM_CLOSE, and ends with the
//                             message's first parameter (posix: SIGTERM ends it)
//   ignore-close [READY]      has no message queue and ignores SIGTERM; only a forced end stops it
//   args OUTPUT [ARGS...]     writes each argument on a line of OUTPUT, then ends with 0
//   lock NAME READY           takes the named Monopoly NAME, writes "held" or "refused" to READY;
//                             held: goes on as "run", refused: ends with 3
//   shared-lock NAME READY    takes the SharedLock NAME, adds one to its changes and writes
//                             "held <changes>" to READY; gives the lock up once the file
//                             READY.release is there, and goes on as "run"
//   print TEXT                writes TEXT as a line to standard output, then to standard error
//   spawn-child READY [MODE]  starts a grandchild (itself as "MODE READY", by default
//                             "grandchild") and goes on as "run"
//   daemon READY              starts a grandchild that leaves its session ("daemon-grandchild
//                             READY"), and ends with 0 once the grandchild is ready
//   grandchild READY          as "run", but writes its process id to READY
//   daemon-grandchild READY   leaves its process group and session (posix: setsid), then as
//                             "grandchild"
//   send-raw PATH TEXT COUNT  posix: COUNT datagrams of TEXT to the socket at PATH
//   window READY              win32: makes a top-level window, writes its process id to READY
//                             and ends with 7 once the window gets WM_CLOSE (a WM_CLOSE to its
//                             thread alone is ignored); posix: ends with 2 at once
//
// READY is a file written (whole, by renaming) once the helper is set up, so a test knows when it
// can be told something. Whatever it does, the helper ends by itself after a minute, so that a
// test that fails half-way leaves nothing running for long.
#include "HelperPlatform.h"
#include "JobInstance/Monopoly.h"
#include "JobInstance/ProcessInstance.h"
#include "JobInstance/SharedLock.h"
#include "JobInstance/ThreadMessages.h"
#include "Time/SystemClock.h"
#include "Time/Timer.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int kUsage = 2;
constexpr int kRefused = 3;
constexpr int kOutOfTime = 99;
constexpr uint32_t kLifetimeMs = 60000;

bool writeFile(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".part";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written && std::rename(temporary.c_str(), path.c_str()) == 0;
}

void announce(int argc, char** argv, int index, const char* text = "ready") {
    if (index < argc)
        writeFile(argv[index], text);
}

bool exists(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file != nullptr)
        std::fclose(file);
    return file != nullptr;
}

bool outOfTime(uint32_t start) {
    return Kalvor::SystemClock::tickCount() - start > kLifetimeMs;
}

int runUntilClosed(uint32_t start) {
    for (;;) {
        Kalvor::ThreadMessage message;
        if (Kalvor::peekMessage(message) && message.message == Kalvor::kWmClose)
            return static_cast<int>(message.wParam);
        if (outOfTime(start))
            return kOutOfTime;
        Kalvor::sleepMilliseconds(5);
    }
}

// Starts this program again in `mode`, left running when the job goes.
void startAgain(const std::string& mode, const std::string& ready) {
    Kalvor::ProcessInstance grandchild(Kalvor::Test::ownProgramPath(), mode + " \"" + ready + "\"");
    grandchild.execute();
}

bool waitForFile(const std::string& path, uint32_t start) {
    while (!exists(path)) {
        if (outOfTime(start))
            return false;
        Kalvor::sleepMilliseconds(5);
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const uint32_t start = Kalvor::SystemClock::tickCount();
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "exit" && argc > 2)
        return std::atoi(argv[2]);
    if (mode == "run") {
        Kalvor::ensureMessageQueue();
        announce(argc, argv, 2);
        return runUntilClosed(start);
    }
    if (mode == "ignore-close") {
        std::signal(SIGTERM, SIG_IGN);
        announce(argc, argv, 2);
        while (!outOfTime(start))
            Kalvor::sleepMilliseconds(5);
        return kOutOfTime;
    }
    if (mode == "args" && argc > 2) {
        std::string lines;
        for (int i = 3; i < argc; ++i)
            lines += std::string(argv[i]) + "\n";
        return writeFile(argv[2], lines) ? 0 : 1;
    }
    if (mode == "lock" && argc > 3) {
        Kalvor::Monopoly lock(argv[2]);
        if (!lock.acquire()) {
            announce(argc, argv, 3, "refused");
            return kRefused;
        }
        Kalvor::ensureMessageQueue();
        announce(argc, argv, 3, "held");
        return runUntilClosed(start);
    }
    if (mode == "shared-lock" && argc > 3) {
        Kalvor::SharedLock lock(argv[2]);
        if (!lock.acquire(kLifetimeMs)) {
            announce(argc, argv, 3, "refused");
            return kRefused;
        }
        lock.bumpChanges();
        Kalvor::ensureMessageQueue();
        announce(argc, argv, 3, ("held " + std::to_string(lock.changes())).c_str());
        const std::string release = std::string(argv[3]) + ".release";
        while (!exists(release) && !outOfTime(start))
            Kalvor::sleepMilliseconds(5);
        lock.release();
        return runUntilClosed(start);
    }
    if (mode == "print" && argc > 2) {
        std::printf("%s\n", argv[2]);
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", argv[2]);
        return 0;
    }
    if (mode == "spawn-child" && argc > 2) {
        // The queue first: once the grandchild is ready, a test may tell this one to close.
        Kalvor::ensureMessageQueue();
        startAgain(argc > 3 ? argv[3] : "grandchild", argv[2]);
        return runUntilClosed(start);
    }
    if (mode == "daemon" && argc > 2) {
        startAgain("daemon-grandchild", argv[2]);
        return waitForFile(argv[2], start) ? 0 : kOutOfTime;
    }
    if ((mode == "grandchild" || mode == "daemon-grandchild") && argc > 2) {
        if (mode == "daemon-grandchild")
            Kalvor::Test::leaveSession();
        Kalvor::ensureMessageQueue();
        announce(argc, argv, 2, std::to_string(Kalvor::Test::ownProcessId()).c_str());
        return runUntilClosed(start);
    }
    if (mode == "send-raw" && argc > 4) {
        const int code = Kalvor::Test::sendRawDatagrams(argv[2], argv[3], std::atol(argv[4]));
        if (code >= 0)
            return code;
    }
    if (mode == "window" && argc > 2) {
        const int code = Kalvor::Test::runWindow(argv[2], kLifetimeMs);
        if (code >= 0)
            return code;
    }
    std::fprintf(stderr,
                 "usage: kalvor-job-helper exit CODE | run [READY] | ignore-close [READY]"
                 " | args OUTPUT [ARGS...] | lock NAME READY | shared-lock NAME READY"
                 " | print TEXT | spawn-child READY [MODE] | daemon READY | window READY\n");
    return kUsage;
}

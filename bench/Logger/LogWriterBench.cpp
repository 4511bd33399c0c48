// Lines per second into one log file: the logger's writer in one process and in four processes
// sharing the file, beside a bare loop that appends one line per write(2) to a file in the same
// folder. The parts of a logged line are measured on their own too (the shared lock taken and
// given back, the stream's write and flush, the look at the open file that every line takes,
// the look at the log's path that a line takes when another writer rotated the file), and the
// named lock and a bare flock for comparison, to show where the time goes.
#include "File/FilePlain.h"
#include "JobInstance/Monopoly.h"
#include "JobInstance/ProcessInstance.h"
#include "JobInstance/SharedLock.h"
#include "JobInstance/SharedLock.h"
#include "Logger/LogFileWriter.h"
#include "Logger/LogRotation.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

fs::path folder;

const std::string& line() {
    static const std::string text = [] {
        std::string made = "debug-5  2024-05-01T10:00:00+02:00 (2.23)    Main loop: Running as "
                           "normal.";
        made.resize(98, '.');
        return made;
    }();
    return text;
}

std::string freshFile(const std::string& name) {
    const fs::path path = folder / name;
    fs::remove(path);
    return path.string();
}

void bareWriteLoop(benchmark::State& state) {
    const std::string path = freshFile("bare.log");
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const std::string bytes = line() + "\r\n";
    for (auto _ : state) {
        if (::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
            state.SkipWithError("write failed");
    }
    ::close(fd);
    state.SetItemsProcessed(state.iterations());
}

void logFileWriterOneProcess(benchmark::State& state) {
    Kalvor::LogRotation::setScheme(state.range(0) != 0 ? Kalvor::LogRotation::kSize
                                                       : Kalvor::LogRotation::kNone);
    Kalvor::LogRotation::setSizeLimit(1024);
    Kalvor::LogFileWriter writer(freshFile("one.log"));
    for (auto _ : state) {
        if (!writer.writeLine(line()))
            state.SkipWithError("line not written");
    }
    state.SetItemsProcessed(state.iterations());
}

// Each iteration: four writer processes append kLinesEach lines each to one file.
void logFileWriterFourProcesses(benchmark::State& state) {
    constexpr int kLinesEach = 20000;
    const std::string helper =
        (fs::read_symlink("/proc/self/exe").parent_path() / "kalvor-log-writer").string();
    for (auto _ : state) {
        const std::string path = freshFile("four.log");
        std::vector<std::unique_ptr<Kalvor::ProcessInstance>> writers;
        for (int tag = 0; tag < 4; ++tag) {
            writers.push_back(std::make_unique<Kalvor::ProcessInstance>(
                helper,
                path + " bench " + std::to_string(tag) + " " + std::to_string(kLinesEach) + " 0"));
            writers.back()->setStopWhenDestroyed(true);
            writers.back()->execute();
        }
        for (auto& job : writers) {
            while (job->status() == Kalvor::JobRunning)
                ::usleep(1000);
            int32_t failed = -1;
            if (job->exitCode(failed) != 0 || failed != 0)
                state.SkipWithError("a writer lost lines");
        }
    }
    state.SetItemsProcessed(state.iterations() * 4 * kLinesEach);
}

void namedLockCycle(benchmark::State& state) {
    Kalvor::Monopoly lock("bench.log");
    for (auto _ : state) {
        if (!lock.acquire() || !lock.release())
            state.SkipWithError("lock refused");
    }
    state.SetItemsProcessed(state.iterations());
}

// The lock a log line takes.
void sharedLockCycle(benchmark::State& state) {
    Kalvor::SharedLock lock("bench.log");
    for (auto _ : state) {
        if (!lock.acquire(2000))
            state.SkipWithError("lock refused");
        lock.release();
    }
    state.SetItemsProcessed(state.iterations());
}

// What a line pays to learn whether its file was deleted, and its size.
void openStatusLook(benchmark::State& state) {
    Kalvor::FilePlain file(freshFile("unlinked.log"));
    file.open(Kalvor::FileBase::kWrite | Kalvor::FileBase::kAppend | Kalvor::FileBase::kInPlace |
              Kalvor::FileBase::kNoLock | Kalvor::FileBase::kRenamable);
    for (auto _ : state) {
        if (file.openStatus().deleted)
            state.SkipWithError("file lost");
    }
    file.close();
    state.SetItemsProcessed(state.iterations());
}

// The least a lock per line can cost here: flock and unlock on a descriptor kept open.
void flockOnOpenDescriptor(benchmark::State& state) {
    const std::string path = freshFile("flock.lock");
    const int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    for (auto _ : state) {
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::flock(fd, LOCK_UN) != 0)
            state.SkipWithError("flock failed");
    }
    ::close(fd);
    state.SetItemsProcessed(state.iterations());
}

void streamWriteAndFlush(benchmark::State& state) {
    Kalvor::FilePlain file(freshFile("stream.log"));
    file.open(Kalvor::FileBase::kWrite | Kalvor::FileBase::kAppend | Kalvor::FileBase::kInPlace |
              Kalvor::FileBase::kNoLock);
    const std::string bytes = line() + "\r\n";
    for (auto _ : state) {
        file.write(bytes);
        file.flush();
    }
    file.close();
    state.SetItemsProcessed(state.iterations());
}

// What a look at the path costs: taken when another process may have rotated the file away.
void stillAtPathCheck(benchmark::State& state) {
    Kalvor::FilePlain file(freshFile("check.log"));
    file.open(Kalvor::FileBase::kWrite | Kalvor::FileBase::kAppend | Kalvor::FileBase::kInPlace |
              Kalvor::FileBase::kNoLock | Kalvor::FileBase::kRenamable);
    for (auto _ : state) {
        if (!file.isStillAtPath())
            state.SkipWithError("file lost");
    }
    file.close();
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(bareWriteLoop);
BENCHMARK(logFileWriterOneProcess)->ArgName("sizeRotation")->Arg(0)->Arg(1);
BENCHMARK(logFileWriterFourProcesses)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(namedLockCycle);
BENCHMARK(sharedLockCycle);
BENCHMARK(flockOnOpenDescriptor);
BENCHMARK(streamWriteAndFlush);
BENCHMARK(stillAtPathCheck);
BENCHMARK(openStatusLook);

} // namespace

int main(int argc, char** argv) {
    folder = fs::temp_directory_path() / ("kalvor-logbench-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    ::setenv("KALVOR_LOCK_DIR", (folder / "locks").c_str(), 1);
    ::setenv("KALVOR_REGISTRY_DIR", (folder / "registry").c_str(), 1);
    fs::create_directories(folder / "registry");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::remove_all(folder);
    return 0;
}

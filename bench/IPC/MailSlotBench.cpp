// Messages per second from send() to receive(): sender threads each write their share of a
// batch of message lines to one receiver, which drains its slot until the whole batch is in.
// The mailslot and lock directories are a fresh folder of their own.
#include "IPC/IPCClient.h"
#include "IPC/MailSlot.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kBatch = 4000;

void sendToReceive(benchmark::State& state) {
    const int senders = static_cast<int>(state.range(0));
    const int each = kBatch / senders;
    Kalvor::MailSlot receiver(Kalvor::MailSlot::kReceiver, "Bench_Core");
    std::vector<std::string> lines;
    lines.reserve(kBatch);
    for (auto _ : state) {
        std::vector<std::thread> threads;
        for (int s = 0; s < senders; ++s)
            threads.emplace_back([each, s] {
                Kalvor::IPCClient client("Bench_Core");
                const std::string id = "S" + std::to_string(s);
                for (int i = 0; i < each; ++i)
                    client.send("LOGMSG", id,
                                "a log line of typical length, number " + std::to_string(i));
            });
        lines.clear();
        // Polled every millisecond, as a listener would: spinning here would take the
        // processor from the senders.
        for (receiver.receive(lines); lines.size() < static_cast<std::size_t>(each * senders);
             receiver.receive(lines))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        for (std::thread& thread : threads)
            thread.join();
    }
    state.SetItemsProcessed(state.iterations() * each * senders);
}

BENCHMARK(sendToReceive)
    ->ArgName("senders")
    ->Arg(1)
    ->Arg(4)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    const fs::path folder =
        fs::temp_directory_path() / ("kalvor-bench-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    ::setenv("KALVOR_MAILSLOT_DIR", (folder / "slots").c_str(), 1);
    ::setenv("KALVOR_LOCK_DIR", (folder / "locks").c_str(), 1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::remove_all(folder);
    return 0;
}

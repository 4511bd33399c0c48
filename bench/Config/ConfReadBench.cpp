// Reading a configuration as the supervisor reads it at start: the file built into a tree, the
// names below "wardex.monitor" listed, and each application's "active" and "id" looked up. The
// building and the lookups are measured on their own too, to show where the time goes. Each
// count of applications gets its own file; the time per application should not grow with the
// count. A tree's release, which the next reading of the file also pays, is measured with it.
#include "Config/ConfReader.h"
#include "Logger/LogState.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string kMonitorKey = "wardex.monitor";

fs::path folder;

// The file for `count` applications, written on first use.
const std::string& confFile(int64_t count) {
    static std::map<int64_t, std::string> files;
    auto found = files.find(count);
    if (found != files.end())
        return found->second;
    const std::string path = (folder / ("wardex-" + std::to_string(count) + ".conf")).string();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "wardex() = '' {\n"
           "    log() = '' {\n"
           "        debug-level(Integer) = '0' { }\n"
           "    }\n"
           "    monitor() = '' {\n";
    for (int64_t i = 0; i < count; ++i) {
        const std::string name = "App" + std::to_string(i);
        out << "        " << name << "() = '' {\n"
            << "            active(Bool) = 'true' { }\n"
            << "            id(String) = '" << name << "' { }\n"
            << "        }\n";
    }
    out << "    }\n"
           "}\n";
    return files.emplace(count, path).first->second;
}

// The supervisor's walk over the monitored applications; false when a lookup fails.
bool readApplications(const Kalvor::ConfReader& reader, int64_t expected) {
    std::vector<std::string> names;
    if (reader.getSubObjects(kMonitorKey, names) != Kalvor::CONF_FOUND ||
        static_cast<int64_t>(names.size()) != expected)
        return false;
    for (const std::string& name : names) {
        bool active = false;
        std::string id;
        if (reader.getBool(kMonitorKey + "." + name + ".active", active) != Kalvor::CONF_FOUND ||
            reader.getString(kMonitorKey + "." + name + ".id", id) != Kalvor::CONF_FOUND ||
            !active || id != name)
            return false;
        benchmark::DoNotOptimize(id.data());
    }
    return true;
}

void loadAndLookUp(benchmark::State& state) {
    const int64_t count = state.range(0);
    const std::string& path = confFile(count);
    for (auto _ : state) {
        Kalvor::ConfReader reader(nullptr);
        reader.buildDOM(path);
        if (!readApplications(reader, count))
            state.SkipWithError("the configuration did not read back");
    }
    state.SetItemsProcessed(state.iterations() * count);
}

void loadOnly(benchmark::State& state) {
    const int64_t count = state.range(0);
    const std::string& path = confFile(count);
    for (auto _ : state) {
        Kalvor::ConfReader reader(nullptr);
        reader.buildDOM(path);
        benchmark::DoNotOptimize(reader.findNode(kMonitorKey));
    }
    state.SetItemsProcessed(state.iterations() * count);
}

void lookUpOnly(benchmark::State& state) {
    const int64_t count = state.range(0);
    Kalvor::ConfReader reader(nullptr);
    reader.buildDOM(confFile(count));
    for (auto _ : state) {
        if (!readApplications(reader, count))
            state.SkipWithError("the configuration did not read back");
    }
    state.SetItemsProcessed(state.iterations() * count);
}

void appCounts(benchmark::internal::Benchmark* family) {
    family->ArgName("apps")->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
}

} // namespace

BENCHMARK(loadAndLookUp)->Apply(appCounts);
BENCHMARK(loadOnly)->Apply(appCounts);
BENCHMARK(lookUpOnly)->Apply(appCounts);

int main(int argc, char** argv) {
    folder =
        fs::temp_directory_path() / ("kalvor-confbench-" + std::to_string(std::random_device{}()));
    fs::create_directories(folder);
    // What the supervisor does before its walk, from the file's own "wardex.log.debug-level".
    Kalvor::LogState::setDebugLevel(0);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::remove_all(folder);
    return 0;
}

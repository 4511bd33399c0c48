#include "TestSupport.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

namespace fs = std::filesystem;

namespace Kalvor::Test {

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    std::random_device seed;
    const fs::path base = fs::temp_directory_path();
    for (;;) {
        const fs::path candidate = base / ("kalvor-test-" + std::to_string(seed()) + "-" +
                                           std::to_string(counter++));
        if (fs::create_directory(candidate)) {
            path_ = candidate.string();
            return;
        }
    }
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::string TempDir::file(const std::string& name) const {
    return (fs::path(path_) / name).string();
}

ScopedEnv::ScopedEnv(std::string name, std::optional<std::string> value)
    : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str()))
        previous_ = old;
    setEnvironment(name_, value);
}

ScopedEnv::~ScopedEnv() { setEnvironment(name_, previous_); }

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return !out.fail();
}

bool fileExists(const std::string& path) {
    std::error_code ignored;
    return fs::exists(path, ignored);
}

std::string helperProgramPath(const std::string& name) {
    const std::string self = currentExecutablePath();
    const auto slash = self.find_last_of("\\/");
    const std::string folder = slash == std::string::npos ? "" : self.substr(0, slash + 1);
    const std::string suffix = self.size() >= 4 && self.compare(self.size() - 4, 4, ".exe") == 0
                                   ? ".exe"
                                   : "";
    return folder + name + suffix;
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace Kalvor::Test

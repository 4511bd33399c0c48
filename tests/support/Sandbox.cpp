#include "Sandbox.h"

#include "Common/SystemInfo.h"

#include <atomic>
#include <filesystem>
#include <random>

namespace Kalvor::Test {

namespace {

std::string freshLabel() {
    static std::atomic<unsigned> counter{0};
    std::random_device seed;
    return std::to_string(seed() % 1000000000u) + "x" + std::to_string(counter++);
}

} // namespace

Sandbox::Sandbox()
    : registry_("KALVOR_REGISTRY_DIR", folder_.file("registry")),
      mailslots_("KALVOR_MAILSLOT_DIR", folder_.file("mailslots")),
      locks_("KALVOR_LOCK_DIR", folder_.file("locks")), label_(freshLabel()),
      subKey_(std::string(SystemInfo::kResourceKey) + "\\WardexTest" + label_) {
    std::filesystem::create_directories(registryDirectory());
    makeSharedFolder(mailslotDirectory());
    makeSharedFolder(lockDirectory());
}

Sandbox::~Sandbox() {
    removeRegistryNames(subKey_, resourceNames_);
}

std::string Sandbox::resourceName(const std::string& stem) {
    resourceNames_.push_back(uniqueName(stem));
    return resourceNames_.back();
}

} // namespace Kalvor::Test

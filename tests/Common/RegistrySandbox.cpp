#include "RegistrySandbox.h"

#include <atomic>
#include <random>

namespace Kalvor::Test {

std::string RegistrySandbox::uniqueToken() {
    static std::atomic<unsigned> counter{0};
    std::random_device seed;
    return std::to_string(seed()) + "-" + std::to_string(counter++);
}

std::string RegistrySandbox::resourceName(const std::string& stem) {
    resourceNames_.push_back(stem + "-" + token_);
    return resourceNames_.back();
}

} // namespace Kalvor::Test

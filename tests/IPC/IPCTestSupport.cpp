#include "IPCTestSupport.h"

#include <atomic>

namespace Kalvor::Test {

std::string uniqueSlotName(const std::string& stem) {
    static std::atomic<int> counter{0};
    return "KalvorTest_" + stem + "_" + std::to_string(currentProcessId()) + "_" +
           std::to_string(counter++);
}

SlotSandbox::SlotSandbox()
    : slots_("KALVOR_MAILSLOT_DIR", folder_.file("slots")),
      locks_("KALVOR_LOCK_DIR", folder_.file("locks")) {}

} // namespace Kalvor::Test

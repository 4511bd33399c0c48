#include "JobInstance/SessionSignals.h"

namespace Kalvor {

// The hidden window's procedure calls deliver(); nothing to install.
struct SessionSignals::State {};

SessionSignals::SessionSignals(StopFlag& stop) {
    if (claim(stop))
        state_ = std::make_unique<State>();
}

SessionSignals::~SessionSignals() {
    if (state_)
        release();
}

} // namespace Kalvor

#include "JobInstance/SessionSignals.h"

namespace Kalvor {

// The hidden window receives WM_QUERYENDSESSION on Windows; nothing to install here.
struct SessionSignals::State {};

SessionSignals::SessionSignals() = default;

SessionSignals::~SessionSignals() = default;

bool SessionSignals::systemStop() {
    return false;
}

} // namespace Kalvor

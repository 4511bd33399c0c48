// Runs a statement that must throw TimeException and returns the exception for inspection.
#pragma once

#include "Common/Exception.h"

#include <gtest/gtest.h>

namespace Kalvor {

template <typename Action> TimeException captureTimeError(Action&& action) {
    try {
        action();
    } catch (const TimeException& error) {
        return error;
    }
    ADD_FAILURE() << "expected a TimeException";
    return TimeException(TM_NONE);
}

} // namespace Kalvor

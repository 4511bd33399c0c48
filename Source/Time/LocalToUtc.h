// Local calendar time to UTC, given a zone's offset (minutes east of UTC) at any instant.
//
// `asUtc` is the local fields counted as if they were UTC. The instant they name lies within
// 14 hours before to 12 hours after it, and a zone changes its offset at most once in such a
// window, so the offsets in force just before and just after the window are the only
// candidates; a candidate is consistent when it is in force at the instant it yields. Where both
// are (the hour repeated when summer time ends) or neither is (the hour skipped when it starts),
// the larger, the summer offset, is used.
#pragma once

#include <algorithm>
#include <cstdint>

namespace Kalvor {

template <typename OffsetAt> int64_t localToUtc(int64_t asUtc, OffsetAt offsetAt) {
    const int64_t before = offsetAt(asUtc - 15 * 3600);
    const int64_t after = offsetAt(asUtc + 13 * 3600);
    const auto holds = [&](int64_t offset) { return offsetAt(asUtc - 60 * offset) == offset; };
    const bool beforeHolds = holds(before);
    const bool afterHolds = holds(after);
    const int64_t offset =
        beforeHolds != afterHolds ? (beforeHolds ? before : after) : std::max(before, after);
    return asUtc - 60 * offset;
}

} // namespace Kalvor

// The archives that rotation leaves beside a file, the log's and an application's output file
// alike: "<base>_<time>_<counter>.<extension>", the time in basic UTC form (a valid Windows
// name). One rule for naming, finding and thinning them out, whichever writer rotated them.
// Nothing here throws but std::bad_alloc.
#pragma once

#include "Time/DateTime.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Kalvor::LogArchives {

// How many names a rotation tries before it gives up on finding a free one.
constexpr int32_t kNameTries = 100;

// An archive: the time and counter of its name, which order the archives of one file.
struct Archive {
    std::string time;
    int64_t counter = 0;
    std::string name; // without folder

    bool operator<(const Archive& other) const {
        return time != other.time ? time < other.time : counter < other.counter;
    }
};

// The archive name for the file at `path` (same folder).
std::string archivePath(const std::string& path, const DateTime& time, int32_t counter);

// The counter after `counter`; 0 follows INT32_MAX.
int32_t nextCounter(int32_t counter);

// The first counter from `first` on whose archive name is free, at most kNameTries names looked
// at; the last one looked at when none is (a rename that never replaces then fails on it).
int32_t freeCounter(const std::string& path, const DateTime& time, int32_t first);

// The archives among the files of the folder whose names begin with "<base>_" and end with the
// extension; other files that share those parts are left alone. In the order the system lists.
std::vector<Archive> archivesOf(const std::string& path);

// Deletes the oldest archives beyond the newest `kept`, by the time and counter in their names
// rather than by modification time, so a copied or touched archive keeps its place. `kept` of 0
// or less keeps every one.
void deleteOldArchives(const std::string& path, int32_t kept);

} // namespace Kalvor::LogArchives

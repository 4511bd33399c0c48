// wardexctl log: the last lines of the supervisor's log or an application's output file, and,
// with -f, what is added to it as it grows and across rotations (the file renamed away and a new
// one made at its path), as `tail -F` does.
//
// The file is opened so that its writer may still rotate it (on Windows too), and read a poll
// at a time: five times a second while following. Line ends are printed as "\n".
#pragma once

#include "File/FilePlain.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>

namespace Kalvor {

class LogFollower {
public:
    explicit LogFollower(std::string path);

    // The last `lines` lines (of the last MiB at most); false with `why` when the file cannot be
    // read.
    bool printLast(std::size_t lines, std::ostream& out, std::string& why);
    // Prints what is added until `stop` says so.
    void follow(std::ostream& out, const std::function<bool()>& stop);

private:
    bool open();
    void printNew(std::ostream& out);

    FilePlain file_;
    int64_t position_ = 0;
};

} // namespace Kalvor

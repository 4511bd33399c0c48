// Splits the supervisor's command line into option entries.
//
// The text is the placeholder word followed directly by the command line ("dummy-c FILE").
// An option marker begins an entry at the start of the text, after a blank, or directly after
// the placeholder; "-" is a marker everywhere, "/" only where it is passed in (win32, where it
// does not begin paths). An option's name is the word after its markers ("-c" and "--help"
// give "c" and "help"); the next word is its value unless it begins with a marker. A word
// outside an option is an entry without a name. Double quotes group blanks and markers into
// one value and are dropped. The placeholder becomes the first entry (value only).
#pragma once

#include <string>
#include <vector>

namespace Kalvor {

struct Argument {
    std::string option;
    std::string value;
    bool operator==(const Argument& other) const {
        return option == other.option && value == other.value;
    }
};

std::vector<Argument> splitArguments(const std::string& text, const std::string& placeholder,
                                     const std::string& markers);

// Joins program arguments back into one command line, quoting those that hold a blank, so that
// splitArguments sees what a Windows command line would give it.
std::string joinArguments(const std::vector<std::string>& arguments);

} // namespace Kalvor

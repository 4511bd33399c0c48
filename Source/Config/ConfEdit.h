// wardexctl add and remove: an application's entry under "wardex.monitor" put into or taken out
// of a configuration file's text, every other byte kept as it is.
//
// An entry is added as whole lines just before the line of the monitor body's closing "}" (in
// the file's own line ends, indented one step further than that "}"), and removed with the
// whole lines it stands on, so that removing what was added gives the text back byte for byte.
// An empty text gets the usual skeleton first. Values are written in the quotes they do not hold
// (single ones where they can), each backslash doubled; a value holding both quotes is refused.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace Kalvor::ConfEdit {

using Keys = std::vector<std::pair<std::string, std::string>>; // "key(Type)", value

// False, with `why` ("line N: …", "… is listed already"), when the text does not parse, has no
// monitor body, or lists the name.
bool addApplication(const std::string& text, const std::string& name, const Keys& keys,
                    std::string& result, std::string& why);
// False, with `why`, when the text does not parse or does not list the name.
bool removeApplication(const std::string& text, const std::string& name, std::string& result,
                       std::string& why);

} // namespace Kalvor::ConfEdit

// The environment references of a REG_EXPAND_SZ value, replaced as Windows' ExpandEnvironmentStrings
// does: "%NAME%" becomes the variable's value; a "%" without a closing one stays as written.
// Where Windows would leave a variable that is not set as "%NAME%" in the text, which then names
// a folder nobody meant, this refuses the text and names the variable.
#pragma once

#include <string>

namespace Kalvor {

// False when a referenced variable is not set; `unset` then names it and `expanded` is
// unchanged.
bool expandEnvironmentText(const std::string& text, std::string& expanded, std::string& unset);

} // namespace Kalvor

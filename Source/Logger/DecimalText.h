// Numbers in the logger's texts (catalog lines, wire texts, registry values) are read as atoi
// reads them: leading blanks, an optional sign, then digits up to the first other byte; no
// digits reads as 0. Unlike atoi, a value too large saturates instead of being undefined.
#pragma once

#include <cstdint>
#include <string>

namespace Kalvor {

// Saturates beyond +-2^40, far outside every 32-bit field, so callers can tell those apart.
int64_t leadingDecimal64(const std::string& text);
// Saturates at the 32-bit range.
int32_t leadingDecimal(const std::string& text);

} // namespace Kalvor

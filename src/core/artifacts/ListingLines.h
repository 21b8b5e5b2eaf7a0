#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quaylet {

// Splits a tool's listing into lines at every line break: LF, CR, CR LF, VT, FF and the
// Unicode breaks U+0085, U+2028 and U+2029 (as UTF-8). Empty lines are dropped; the others are
// kept unchanged and untrimmed. Accepts any bytes.
std::vector<std::string> splitListingLines(std::string_view text);

}  // namespace quaylet

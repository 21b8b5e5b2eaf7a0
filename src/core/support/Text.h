#pragma once

#include <string>
#include <string_view>

namespace quaylet {

// The text with every invalid UTF-8 sequence replaced by U+FFFD, one replacement for each
// maximal invalid subpart, as the platform's own decoders do.
std::string decodeUtf8Lossy(std::string_view bytes);

// The text without white space and line breaks (ASCII and Unicode) at either end.
std::string_view trimmed(std::string_view text);

}  // namespace quaylet

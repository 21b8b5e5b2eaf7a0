#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quaylet {

// The scalar value of the UTF-8 sequence at text[index], with index moved past it; none, and
// index unchanged, when the sequence is not well formed (overlong forms and surrogates
// included). index must be within text.
std::optional<char32_t> decodeUtf8At(std::string_view text, std::size_t& index);

// The text with every invalid UTF-8 sequence replaced by U+FFFD, one replacement for each
// maximal invalid subpart, as the platform's own decoders do.
std::string decodeUtf8Lossy(std::string_view bytes);

// The text with every byte but the unreserved characters of a URL (A-Z a-z 0-9 - . _ ~)
// written as %XX, so that it stays one component of a URL whatever it holds.
std::string percentEncoded(std::string_view text);

// The text without white space and line breaks (ASCII and Unicode) at either end.
std::string_view trimmed(std::string_view text);

// Text from outside (the service, a pull request, a bundle, a tool's output) made safe to
// print: invalid UTF-8 is decoded as by decodeUtf8Lossy, and every character that could drive
// a terminal or reorder what a reader sees (C0 and C1 controls, DEL, the line and paragraph
// separators, bidirectional controls) is replaced by U+FFFD. Line breaks and tabs count as
// controls too, so one value stays on one line.
std::string inertText(std::string_view bytes);

}  // namespace quaylet

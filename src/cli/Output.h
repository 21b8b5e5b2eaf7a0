#pragma once

#include <nlohmann/json.hpp>

#include <string_view>

namespace quaylet {

// Everything the program prints, but the progress line, goes through these. Much of it is
// text from outside (titles, names, messages, tool output), so each line is made inert
// first: it cannot move the cursor, retitle the terminal or forge a line of its own.

// One line on standard output.
void printLine(std::string_view text);

// One line on standard error.
void printError(std::string_view text);

// The document on standard output, pretty-printed. Strings keep their exact value but are
// written as ASCII escapes, so a document piped to a terminal is inert too.
void printJson(const nlohmann::ordered_json& document);

}  // namespace quaylet

#include "cli/Output.h"

#include <cstdio>
#include <string>

#include "core/support/Text.h"

namespace quaylet {
namespace {

void writeLine(std::FILE* stream, std::string_view text) {
    const std::string line = inertText(text) + "\n";
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fflush(stream);
}

}  // namespace

void printLine(std::string_view text) {
    writeLine(stdout, text);
}

void printError(std::string_view text) {
    writeLine(stderr, text);
}

void printJson(const nlohmann::ordered_json& document) {
    // ASCII escaping writes every control character, DEL and non-ASCII character as \u escapes.
    const std::string text =
        document.dump(2, ' ', true, nlohmann::ordered_json::error_handler_t::replace) + "\n";
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

}  // namespace quaylet

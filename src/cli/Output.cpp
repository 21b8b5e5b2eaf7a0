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
    std::string text =
        document.dump(2, ' ', true, nlohmann::ordered_json::error_handler_t::replace);
    // ASCII escaping leaves DEL as it is; outside strings a document has none, so every one
    // found is inside a string and its escape keeps the value.
    for (std::size_t at = text.find('\x7F'); at != std::string::npos; at = text.find('\x7F', at)) {
        text.replace(at, 1, "\\u007f");
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}  // namespace quaylet

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <system_error>

#include "hosttools/ExecutableArchitectures.h"
#include "hosttools/Tools.h"

namespace quaylet::hosttools {

int runLipo(const Invocation& invocation) {
    const std::vector<std::string>& arguments = invocation.arguments;
    const std::string fatal = "fatal error: " + invocation.program + ": ";
    // The Mac tool takes its input file before or after the operation.
    if (arguments.size() != 2 || (arguments[0] != "-archs" && arguments[1] != "-archs")) {
        throw ToolFailure(1, fatal + "usage: lipo -archs <input file>");
    }
    const std::string& file = arguments[0] == "-archs" ? arguments[1] : arguments[0];

    std::ifstream input(file, std::ios::binary);
    if (!input) {
        throw ToolFailure(
            1, fatal + "can't open input file: " + file + " (" + std::strerror(errno) + ")");
    }
    std::error_code error;
    const std::uintmax_t fileSize = std::filesystem::file_size(file, error);
    std::vector<std::uint8_t> leadingBytes(kArchitectureHeaderBytes);
    input.read(reinterpret_cast<char*>(leadingBytes.data()),
               static_cast<std::streamsize>(leadingBytes.size()));
    leadingBytes.resize(static_cast<std::size_t>(input.gcount()));

    const std::vector<std::string> names =
        error ? std::vector<std::string>{} : executableArchitectures(leadingBytes, fileSize);
    if (names.empty()) {
        throw ToolFailure(1, fatal + "can't figure out the architecture type of: " + file);
    }
    for (std::size_t index = 0; index < names.size(); ++index) {
        std::cout << (index == 0 ? "" : " ") << names[index];
    }
    std::cout << '\n';
    return 0;
}

}  // namespace quaylet::hosttools

#include "hosttools/Tools.h"
#include "hosttools/ZipArchive.h"

namespace quaylet::hosttools {

int runDitto(const Invocation& invocation) {
    bool extract = false;
    bool zipFormat = false;
    std::vector<std::string> operands;
    for (const std::string& argument : invocation.arguments) {
        if (argument == "-x") {
            extract = true;
        } else if (argument == "-k") {
            zipFormat = true;
        } else if (argument == "--noqtn") {
            // Quarantine attributes exist only on macOS; there is nothing to leave out here.
        } else if (argument.starts_with("-")) {
            throw ToolFailure(1, "ditto: unsupported option " + argument +
                                     "\nusage: ditto -x -k [--noqtn] <archive> <destination>");
        } else {
            operands.push_back(argument);
        }
    }
    if (!extract || !zipFormat || operands.size() != 2) {
        throw ToolFailure(1, "usage: ditto -x -k [--noqtn] <archive> <destination>");
    }
    try {
        extractZip(operands[0], operands[1]);
    } catch (const std::exception& error) {
        throw ToolFailure(1, std::string("ditto: ") + error.what());
    }
    return 0;
}

}  // namespace quaylet::hosttools

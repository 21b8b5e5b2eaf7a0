#include <iostream>

#include "hosttools/Tools.h"
#include "hosttools/ZipArchive.h"

namespace quaylet::hosttools {

int runZipinfo(const Invocation& invocation) {
    const std::vector<std::string>& arguments = invocation.arguments;
    if (arguments.size() != 2 || arguments[0] != "-1") {
        throw ToolFailure(10, "usage: zipinfo -1 <archive>");
    }
    std::vector<std::string> names;
    try {
        names = listZipEntries(arguments[1]);
    } catch (const std::runtime_error& error) {
        throw ToolFailure(9, std::string("zipinfo: ") + error.what());
    }
    // Printed only once the whole directory has been read, so a damaged archive yields no
    // partial listing.
    for (const std::string& name : names) {
        std::cout << name << '\n';
    }
    return 0;
}

}  // namespace quaylet::hosttools

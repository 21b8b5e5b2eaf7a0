#include <sys/utsname.h>

#include <cerrno>
#include <iostream>
#include <string>
#include <string_view>
#include <system_error>

#include "core/support/SystemError.h"

#include "hosttools/Tools.h"

namespace quaylet::hosttools {
namespace {

constexpr const char* kUsage = "usage: uname [-amnrsv]";

// The fields in the order uname prints them, whatever order the flags came in.
constexpr char kFieldFlags[] = {'s', 'n', 'r', 'v', 'm'};

const char* field(const utsname& names, char flag) {
    switch (flag) {
        case 's':
            return names.sysname;
        case 'n':
            return names.nodename;
        case 'r':
            return names.release;
        case 'v':
            return names.version;
        default:
            // A Mac names 64-bit ARM "arm64"; Linux calls the same processor "aarch64".
            return std::string_view(names.machine) == "aarch64" ? "arm64" : names.machine;
    }
}

}  // namespace

int runUname(const Invocation& invocation) {
    std::string wanted;
    for (const std::string& argument : invocation.arguments) {
        if (argument.size() < 2 || argument.front() != '-') {
            throw ToolFailure(1, kUsage);
        }
        for (const char flag : argument.substr(1)) {
            if (flag == 'a') {
                wanted += "snrvm";
            } else if (std::string("snrvm").find(flag) != std::string::npos) {
                wanted += flag;
            } else {
                throw ToolFailure(1,
                                  std::string("uname: illegal option -- ") + flag + "\n" + kUsage);
            }
        }
    }
    if (wanted.empty()) {
        wanted = "s";
    }
    utsname names{};
    if (::uname(&names) != 0) {
        throw systemError("uname");
    }
    std::string line;
    for (const char flag : kFieldFlags) {
        if (wanted.find(flag) != std::string::npos) {
            line += (line.empty() ? "" : " ") + std::string(field(names, flag));
        }
    }
    std::cout << line << '\n';
    return 0;
}

}  // namespace quaylet::hosttools
